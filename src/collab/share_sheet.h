#pragma once

#include "collab/share_sheet_model.h"
#include "store/fn_page.h"

#include <QDialog>

class BusyIndicator;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QVBoxLayout;
class QWidget;
struct AppContext;

// Sharing one page by e-mail with a role, and who has access or is invited, each removable with
// one click. Opened window-modal by the page's "Share" button.
class ShareSheet : public QDialog
{
    Q_OBJECT
public:
    static constexpr const char *kHasAccess = "Has access";
    static constexpr const char *kPendingInvites = "Pending invites";
    static constexpr const char *kNobody = "No one has access yet. Invite someone above.";
    static constexpr const char *kSendInvite = "Send invite";

    ShareSheet(const AppContext &context, const FNPage &page, QWidget *parent = nullptr);

    ShareSheetModel &model() { return *m_model; }
    QLineEdit *emailField() const { return m_email; }
    QComboBox *roleMenu() const { return m_role; }
    QPushButton *sendButton() const { return m_send; }
    QWidget *peopleList() const { return m_list; }

private:
    void render();
    void renderList();
    QWidget *personRow(const QString &first, const QString &second, const QString &role,
                       std::function<void()> remove);

    ShareSheetModel *m_model;
    QLineEdit *m_email = nullptr;
    QComboBox *m_role = nullptr;
    QLabel *m_hint = nullptr;
    QPushButton *m_send = nullptr;
    QLabel *m_error = nullptr;
    QLabel *m_info = nullptr;
    QWidget *m_loading = nullptr;
    QWidget *m_scroll = nullptr;
    QWidget *m_list = nullptr;
    BusyIndicator *m_sendBusy = nullptr;
    BusyIndicator *m_loadingBusy = nullptr;
    int m_renderedList = -1;
};
