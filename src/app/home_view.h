#pragma once

#include "app/home_content.h"
#include "ui/app_context.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QPixmap>
#include <QTimer>
#include <QWidget>

#include <chrono>
#include <functional>
#include <vector>

class EmptyStateView;
class FittedText;
class QGridLayout;
class QHBoxLayout;
class QLabel;
class QPushButton;
class QScrollArea;
class QVBoxLayout;

// The detail column while no page is open: the logo, a greeting, the top-level folders and the
// recently changed pages, or a placeholder when there are neither. A tap on a folder or a page asks
// the main window to open a page. Reads the store only; what it shows comes from HomeContent. Cards
// are made once and filled again in place, so a change costs only the cards it touched.
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

    // Each of these shows what is waiting to be shown first (a first build, changes not yet filled).
    QLabel *greetingLabel() const { return built()->m_greeting; }
    // Null while their section is not shown.
    QWidget *foldersSection() const { return built()->m_folderGrid.box; }
    QWidget *recentSection() const { return built()->m_recentGrid.box; }
    EmptyStateView *placeholder() const { return built()->m_placeholder; }
    const QList<QPushButton *> &folderCards() const { return built()->m_folderCards; }
    const QList<QPushButton *> &recentCards() const { return built()->m_recentCards; }
    // How long one turn of the event loop may spend making cards once it has made one (tests slow
    // the fill down to a card a turn this way, whatever the machine's speed).
    void setCardsTurn(std::chrono::milliseconds turn) { m_cardsTurn = turn; }

Q_SIGNALS:
    // Open this page.
    void pageSelected(const QString &localID);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    struct FolderCard {
        QLabel *icon = nullptr;
        FittedText *name = nullptr;
        QLabel *count = nullptr;
    };
    struct RecentCard {
        QLabel *icon = nullptr;
        FittedText *title = nullptr;
        FittedText *time = nullptr;
        QLabel *published = nullptr;
        QLabel *shared = nullptr;
        QHBoxLayout *top = nullptr; // the icon and the badges
    };
    // A section's box, its grid, and the blanks that keep a short first row's columns.
    struct Grid {
        QWidget *box = nullptr;
        QGridLayout *layout = nullptr;
        QList<QWidget *> fillers;
    };

    const HomeView *built() const;
    void note(const HomeContent::Changes &changes);
    // Works everything out again from the store and shows it.
    void reload();
    // Shows the sections the changes since the last fill touched.
    void fill();
    void fillFolders();
    void fillFolderCard(size_t i);
    void fillRecent();
    void fillPlaceholder();
    Grid section(const QString &title, const QString &objectName, int at);
    void dropSection(Grid &grid, QList<QPushButton *> &cards);
    // Adds cards at the end or takes them off it; `make` makes the card of a slot.
    void setCardCount(Grid &grid, QList<QPushButton *> &cards, qsizetype count,
                      const std::function<QPushButton *(int slot)> &make);
    // Brings `cards` to `wanted`, making them one at a time while the turn has room (all while
    // hidden), `made` told of each new one; the count shown. Those left wait for the next turn, with
    // `pending` set.
    qsizetype growCards(Grid &grid, QList<QPushButton *> &cards, qsizetype wanted, bool &pending,
                        const std::function<QPushButton *(int slot)> &make,
                        const std::function<void(qsizetype at)> &made = {});
    QPushButton *folderCard(int slot);
    QPushButton *recentCard(int slot);
    void fitRecentCard(QPushButton *button, const RecentCard &card);
    QPixmap badgePixmap(const QString &symbol, const QColor &tint);
    QDateTime now() const;
    // Whether this fill may make another card: at least one per turn, all while hidden.
    bool roomForCards() const;

    AppContext m_context;
    Clock m_clock;
    HomeContent *m_content;
    HomeContent::Changes m_pending; // touched since the last fill
    QTimer m_fill;
    QElapsedTimer m_turn; // since the fill began: cards are made while the turn has room
    bool m_firstBuildPending = false;
    int m_madeThisTurn = 0;
    std::chrono::milliseconds m_cardsTurn{4};
    QScrollArea *m_scroll;
    QVBoxLayout *m_column;
    QLabel *m_greeting;
    Grid m_folderGrid;
    Grid m_recentGrid;
    EmptyStateView *m_placeholder = nullptr;
    std::vector<FolderCard> m_folderParts;
    std::vector<RecentCard> m_recentParts;
    QHash<QString, QPixmap> m_badges;
    QList<QPushButton *> m_folderCards;
    QList<QPushButton *> m_recentCards;
};
