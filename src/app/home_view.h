#pragma once

#include "app/home_dashboard.h"
#include "ui/app_context.h"

#include <QDateTime>
#include <QList>
#include <QTimer>
#include <QWidget>

#include <functional>

class EmptyStateView;
struct FNFolder;
struct FNPage;
class QLabel;
class QPushButton;
class QVBoxLayout;

// The detail column while no page is open: the logo, a greeting, the top-level folders and the
// recently changed pages, or a placeholder when there are neither. A tap on a folder or a page asks
// the main window to open a page. Reads the store only; what it shows comes from HomeDashboard.
class HomeView : public QWidget
{
    Q_OBJECT
public:
    using Clock = std::function<QDateTime()>;

    static constexpr const char *kFoldersTitle = "Folders";
    static constexpr const char *kRecentTitle = "Recent";
    static constexpr const char *kEmptyTitle = "Nothing here yet";
    static constexpr const char *kEmptySubtitle = "Create a page or folder from the sidebar to get started.";

    enum class FirstBuild {
        Now,
        // Once the view has been painted: a start shows its window first, the dashboard after.
        AfterFirstPaint,
    };

    // `clock` gives the time of the greeting and of the relative times; the system clock without one.
    explicit HomeView(const AppContext &context, QWidget *parent = nullptr, Clock clock = {},
                      FirstBuild firstBuild = FirstBuild::Now);

    // Each of these builds a dashboard still waiting for its first paint.
    QLabel *greetingLabel() const { return built()->m_greeting; }
    // Null while their section is not shown.
    QWidget *foldersSection() const { return built()->m_folders; }
    QWidget *recentSection() const { return built()->m_recent; }
    EmptyStateView *placeholder() const { return built()->m_placeholder; }
    const QList<QPushButton *> &folderCards() const { return built()->m_folderCards; }
    const QList<QPushButton *> &recentCards() const { return built()->m_recentCards; }

Q_SIGNALS:
    // Open this page.
    void pageSelected(const QString &localID);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    const HomeView *built() const;
    void scheduleRebuild();
    void rebuild();
    QWidget *section(const QString &title, const QList<QPushButton *> &cards);
    QPushButton *folderCard(const FNFolder &folder, const HomeDashboard::FolderCounts &counts);
    QPushButton *recentCard(const FNPage &page, const QDateTime &now);
    QDateTime now() const;

    AppContext m_context;
    Clock m_clock;
    QTimer m_rebuild;
    bool m_firstBuildPending = false;
    bool m_stale = false; // changed while hidden: built again when next shown
    QVBoxLayout *m_column;
    QLabel *m_greeting;
    QWidget *m_folders = nullptr;
    QWidget *m_recent = nullptr;
    EmptyStateView *m_placeholder = nullptr;
    QList<QPushButton *> m_folderCards;
    QList<QPushButton *> m_recentCards;
};
