#pragma once

#include "collab/version_history.h"
#include "store/fn_page.h"

#include <QDialog>

#include <memory>
#include <optional>

class Confirmer;
class QLabel;
class QVBoxLayout;
struct AppContext;

// The page's saved versions, newest first as the service lists them, each with a "Restore" button
// that asks first. Opened window-modal by the page's "Version History" button.
class VersionHistorySheet : public QDialog
{
    Q_OBJECT
public:
    static constexpr const char *kTitle = "Version History";
    static constexpr const char *kEmptyTitle = "No saved versions yet.";
    static constexpr const char *kEmptySubtitle = "A snapshot is saved automatically as you edit.";
    static constexpr const char *kConfirmTitle =
        "Restore this version? Your current content will be replaced.";
    static constexpr const char *kRestore = "Restore";

    VersionHistorySheet(const AppContext &context, const FNPage &page, QWidget *parent = nullptr);
    ~VersionHistorySheet() override;

    VersionHistory &history() { return *m_history; }
    // Tests answer the confirmation without a modal loop.
    void setConfirmer(Confirmer *confirmer);

private:
    void render();
    QWidget *versionRow(const VersionDTO &version, bool last);

    VersionHistory *m_history;
    std::unique_ptr<Confirmer> m_ownConfirmer;
    Confirmer *m_confirmer;
    QVBoxLayout *m_body = nullptr;
    QWidget *m_content = nullptr;
    // Where the list was scrolled, until the list drawn since has the range to show it.
    std::optional<int> m_pendingScroll;
};
