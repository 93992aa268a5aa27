#pragma once

#include "app/quick_switcher_model.h"
#include "ui/app_context.h"

#include <QDialog>
#include <QString>

class QLabel;
class QLineEdit;
class QListWidget;

// The keyboard palette for jumping to a page (Ctrl+J): a search field over the matching pages.
// Arrows move the highlight, Return or a click picks, Escape closes. Reads the store only; the
// logic lives in QuickSwitcherModel. Each opening is a new switcher with an empty query.
class QuickSwitcher : public QDialog
{
    Q_OBJECT
public:
    static constexpr int kWidth = 480;
    static constexpr int kMaxListHeight = 360;
    static constexpr const char *kPlaceholder = "Jump to page…";

    explicit QuickSwitcher(const AppContext &context, QWidget *parent = nullptr);

    const QuickSwitcherModel &model() const { return m_model; }
    QLineEdit *searchField() const { return m_field; }
    QListWidget *list() const { return m_list; }
    QLabel *emptyLabel() const { return m_empty; }

Q_SIGNALS:
    // The picked page; the switcher closes right after.
    void picked(const QString &pageLocalID);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void rebuild();
    void showHighlight();
    // Centred across the main window, a sixth of the way down, at this height.
    void placeOverHost(int height);
    void pickHighlighted();
    void pickRow(int row);

    AppContext m_context;
    QuickSwitcherModel m_model;
    QLineEdit *m_field;
    QListWidget *m_list;
    QLabel *m_empty;
    std::vector<QString> m_rowIDs;
};
