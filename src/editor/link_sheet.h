#pragma once

#include <QDialog>

class QLineEdit;
class QPushButton;

// "Insert link": the address field with "Cancel" and "Insert" (also Return). Window-modal, opened
// with open(); the owner binds the field to its own state and acts on the two buttons.
class LinkSheet : public QDialog
{
    Q_OBJECT
public:
    explicit LinkSheet(QWidget *parent = nullptr);

    QLineEdit *urlField() const { return m_url; }
    QPushButton *cancelButton() const { return m_cancel; }
    QPushButton *insertButton() const { return m_insert; }

Q_SIGNALS:
    void cancelClicked();
    void insertClicked();

private:
    QLineEdit *m_url;
    QPushButton *m_cancel;
    QPushButton *m_insert;
};
