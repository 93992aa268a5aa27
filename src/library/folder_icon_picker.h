#pragma once

#include <QFrame>
#include <QString>
#include <QStringList>

#include <vector>

class QGridLayout;
class QLineEdit;
class QPushButton;
class QToolButton;

// A small popup grid of emoji for a folder's icon, filtered by keywords, with "Remove" to clear the
// icon. It only reports the choice and closes itself; what the choice does is the host's.
class FolderIconPicker : public QFrame
{
    Q_OBJECT
public:
    static constexpr const char *kHeader = "Page icon";
    static constexpr const char *kRemove = "Remove";
    static constexpr const char *kFilterPlaceholder = "Filter emoji (e.g. star, book, fire)...";

    struct Item {
        QString emoji;
        QStringList keywords; // lower case
    };
    static const std::vector<Item> &catalog();
    // The items with a keyword containing the trimmed, lower-cased query; all for an empty one.
    static std::vector<Item> filtered(const QString &query);

    // `selection` is the icon being edited ("" for none). Deletes itself once closed.
    explicit FolderIconPicker(const QString &selection, QWidget *parent = nullptr);

    QLineEdit *filterField() const { return m_filter; }
    QPushButton *removeButton() const { return m_remove; }
    // The grid's emoji buttons, as filtered now.
    QList<QToolButton *> cells() const;

Q_SIGNALS:
    // An emoji was chosen, or "" for "Remove"; the picker closes right after.
    void picked(const QString &icon);
    // The picker closed, chosen or not.
    void dismissed();

protected:
    void hideEvent(QHideEvent *event) override;

private:
    void fillGrid();

    QString m_selection;
    QLineEdit *m_filter;
    QPushButton *m_remove = nullptr;
    QWidget *m_grid;
    QGridLayout *m_gridLayout;
};
