#pragma once

#include "collab/publish_sheet_model.h"
#include "store/fn_page.h"

#include <QDialog>

class BusyIndicator;
class ClampedText;
class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QWidget;
struct AppContext;

// Publishing one page to the web: its public URL and embed snippet, view count, password and
// options, and the publish, save and unpublish buttons. Opened window-modal by "Publish to web".
class PublishSheet : public QDialog
{
    Q_OBJECT
public:
    static constexpr const char *kPublishTitle = "Publish to web";
    static constexpr const char *kPublishedTitle = "Published";
    static constexpr const char *kNotSynced =
        "This page hasn't synced to the server yet. Try again in a few seconds.";

    PublishSheet(const AppContext &context, const FNPage &page, QWidget *parent = nullptr);

    PublishSheetModel &model() { return *m_model; }
    QPushButton *primaryButton() const { return m_primary; }
    QPushButton *copyButton() const { return m_copyURL; }
    QPushButton *unpublishButton() const { return m_unpublish; }
    QLineEdit *passwordField() const { return m_password; }

    // The embed snippet as shown: at most two lines.
    ClampedText *snippetText() const { return m_snippet; }

private:
    void render();
    void fitHeight();

    PublishSheetModel *m_model;
    QLabel *m_title = nullptr;
    QWidget *m_loading = nullptr;
    QWidget *m_form = nullptr;
    QWidget *m_loadFailed = nullptr;
    QLabel *m_loadError = nullptr;
    QPushButton *m_tryAgain = nullptr;
    QWidget *m_urlGroup = nullptr;
    QLabel *m_urlText = nullptr;
    int m_urlWidth = 0;
    QPushButton *m_copyURL = nullptr;
    ClampedText *m_snippet = nullptr;
    QLabel *m_views = nullptr;
    QLineEdit *m_password = nullptr;
    QLabel *m_hint = nullptr;
    QCheckBox *m_comments = nullptr;
    QCheckBox *m_subpages = nullptr;
    QLabel *m_error = nullptr;
    QPushButton *m_unpublish = nullptr;
    QPushButton *m_primary = nullptr;
    BusyIndicator *m_loadingBusy = nullptr;
    BusyIndicator *m_savingBusy = nullptr;
};
