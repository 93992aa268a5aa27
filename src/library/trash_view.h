#pragma once

#include "ui/app_context.h"

#include <QDialog>

class BusyIndicator;
class EmptyStateView;
class QLabel;
class QStackedWidget;
class QToolButton;
class QVBoxLayout;
class TrashList;

// The trash window over the main window: the current workspace's trashed pages, each with "Restore"
// and a button to delete it for good, which the row itself then asks to confirm. Open it with open();
// it loads the list when first shown and deletes itself when closed, so each opening starts afresh.
class TrashView : public QDialog
{
    Q_OBJECT
public:
    static constexpr const char *kTitle = "Trash";
    static constexpr const char *kNote =
        "Items deleted in the last 30 days. After that they're purged automatically.";
    static constexpr const char *kEmptyTitle = "Nothing in trash";
    static constexpr const char *kEmptyDescription = "Pages you delete will appear here for 30 days.";
    static constexpr const char *kRestore = "Restore";
    static constexpr const char *kPermanentlyDelete = "Permanently delete";
    static constexpr const char *kConfirmDelete = "Confirm delete";
    static constexpr const char *kCancel = "Cancel";

    // Needs the context's store, client and sync engine.
    TrashView(const AppContext &context, QWidget *parent);
    ~TrashView() override;

    TrashList &trashList() { return *m_list; }
    // What the body shows now: the spinner, the error, the empty state or the list.
    QWidget *currentBody() const;
    QWidget *spinnerPage() const { return m_spinnerPage; }
    QLabel *errorLabel() const { return m_error; }
    EmptyStateView *emptyState() const { return m_empty; }
    QWidget *listPage() const { return m_scroll; }
    QToolButton *reloadButton() const { return m_reload; }
    // The row widget of an entry, or null.
    QWidget *rowFor(qint64 id) const;

protected:
    void showEvent(QShowEvent *event) override;

private:
    void render();
    QWidget *makeRow(qint64 id);

    TrashList *m_list;
    bool m_loadedOnce = false;

    QToolButton *m_reload;
    QStackedWidget *m_body;
    QWidget *m_spinnerPage;
    QLabel *m_spinner;
    BusyIndicator *m_busy;
    QLabel *m_error;
    EmptyStateView *m_empty;
    QWidget *m_scroll;
    QWidget *m_rowsHolder;
    QVBoxLayout *m_rows;
};
