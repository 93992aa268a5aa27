#include "app/home_dashboard.h"
#include "app/home_view.h"
#include "app/main_view.h"
#include "home_view_fixture.h"
#include "support/app_harness.h"
#include "ui/empty_state_view.h"
#include "ui/fitted_text.h"
#include "ui/relative_time.h"

#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTextDocument>

#include <functional>
#include <memory>

class TestHomeView : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();

    void greeting_data();
    void greeting();
    void folderCounts_data();
    void folderCounts();
    void openingAFolder_data();
    void openingAFolder();
    void topLevelFoldersByPosition();
    void recentPagesAreTheEightNewest();
    void badges_data();
    void badges();
    void relativeTimes_data();
    void relativeTimes();

    void sectionsAndPlaceholder_data();
    void sectionsAndPlaceholder();
    void cardsSelectPages();
    void followsTheStoreAndTheClock();
    void dashboardAfterFirstPaint();
    void gridInTheWindow_data();
    void gridInTheWindow();

private:
    void setState(const std::vector<FNFolder> &folders, const std::vector<FNPage> &pages);

    std::unique_ptr<AppDevice> m_device;
    std::unique_ptr<AppHarness> m_app;
};

void TestHomeView::init()
{
    m_device = std::make_unique<AppDevice>();
    m_app = std::make_unique<AppHarness>(*m_device);
}

void TestHomeView::cleanup()
{
    m_app.reset();
    m_device.reset();
}

void TestHomeView::setState(const std::vector<FNFolder> &folders, const std::vector<FNPage> &pages)
{
    setStoreState(m_app->store, folders, pages);
}

void TestHomeView::greeting_data()
{
    QTest::addColumn<int>("hour");
    QTest::addColumn<std::optional<QString>>("name");
    QTest::addColumn<QString>("expected");
    const std::optional<QString> none;
    const std::optional<QString> alpha = QStringLiteral("alpha");
    QTest::newRow("04") << 4 << alpha << "Welcome, alpha";
    QTest::newRow("05") << 5 << alpha << "Good morning, alpha";
    QTest::newRow("11") << 11 << alpha << "Good morning, alpha";
    QTest::newRow("12") << 12 << alpha << "Good afternoon, alpha";
    QTest::newRow("16") << 16 << alpha << "Good afternoon, alpha";
    QTest::newRow("17") << 17 << alpha << "Good evening, alpha";
    QTest::newRow("21") << 21 << alpha << "Good evening, alpha";
    QTest::newRow("22") << 22 << alpha << "Welcome, alpha";
    QTest::newRow("00") << 0 << alpha << "Welcome, alpha";
    QTest::newRow("two words") << 19 << std::optional<QString>(QStringLiteral("alpha beta"))
                               << "Good evening, alpha";
    QTest::newRow("doubled spaces") << 19 << std::optional<QString>(QStringLiteral("  alpha  beta"))
                                    << "Good evening, alpha";
    QTest::newRow("no name") << 19 << none << "Good evening";
    QTest::newRow("empty name") << 19 << std::optional<QString>(QString()) << "Good evening";
    // No word to take: the name stands as it is.
    QTest::newRow("only spaces") << 19 << std::optional<QString>(QStringLiteral("   "))
                                 << "Good evening,    ";
}

void TestHomeView::greeting()
{
    QFETCH(int, hour);
    QFETCH(std::optional<QString>, name);
    QFETCH(QString, expected);
    QCOMPARE(HomeDashboard::greeting(hour, name), expected);
}

void TestHomeView::folderCounts_data()
{
    QTest::addColumn<std::vector<FNFolder>>("folders");
    QTest::addColumn<std::vector<FNPage>>("pages");
    QTest::addColumn<QString>("text");
    const FNFolder top = folder(10);
    QTest::newRow("empty") << std::vector<FNFolder>{top} << std::vector<FNPage>{} << "Empty";
    QTest::newRow("one subfolder") << std::vector<FNFolder>{top, folder(11, 10)} << std::vector<FNPage>{}
                                   << "1 Folder";
    QTest::newRow("two subfolders, one page") << std::vector<FNFolder>{top, folder(11, 10), folder(12, 10)}
                                              << std::vector<FNPage>{page("a", 10)} << "2 Folders | 1 Page";
    QTest::newRow("three pages") << std::vector<FNFolder>{top}
                                 << std::vector<FNPage>{page("a", 10), page("b", 10), page("c", 10)}
                                 << "3 Pages";
    QTest::newRow("deleted and nested children are not counted")
        << std::vector<FNFolder>{top, folder(11, 10, 0, true)}
        << std::vector<FNPage>{page("gone", 10, 0, 0, 0, true), page("sub", 10, 77)} << "Empty";
    // Top-level folders and loose pages carry 0 as their parent and folder ids, like this folder's id.
    QTest::newRow("folder not on the service")
        << std::vector<FNFolder>{folder(0), folder(5)}
        << std::vector<FNPage>{page("loose"), page("loose too")} << "Empty";
}

void TestHomeView::folderCounts()
{
    QFETCH(std::vector<FNFolder>, folders);
    QFETCH(std::vector<FNPage>, pages);
    QFETCH(QString, text);
    StoreState state;
    state.folders = folders;
    state.pages = pages;
    QCOMPARE(HomeDashboard::folderCountText(HomeDashboard::folderCounts(state, folders.front())), text);
}

void TestHomeView::openingAFolder_data()
{
    QTest::addColumn<std::vector<FNFolder>>("folders");
    QTest::addColumn<std::vector<FNPage>>("pages");
    QTest::addColumn<QString>("opens"); // empty: nothing
    QTest::newRow("first by position")
        << std::vector<FNFolder>{folder(10)}
        << std::vector<FNPage>{page("second", 10, 0, 2), page("first", 10, 0, 1), page("tie", 10, 0, 1)}
        << "first";
    QTest::newRow("only nested or deleted pages")
        << std::vector<FNFolder>{folder(10)}
        << std::vector<FNPage>{page("nested", 10, 3), page("deleted", 10, 0, 0, 0, true)} << QString();
    QTest::newRow("folder not on the service")
        << std::vector<FNFolder>{folder(0)} << std::vector<FNPage>{page("loose")} << QString();
}

void TestHomeView::openingAFolder()
{
    QFETCH(std::vector<FNFolder>, folders);
    QFETCH(std::vector<FNPage>, pages);
    QFETCH(QString, opens);
    StoreState state;
    state.folders = folders;
    state.pages = pages;
    const auto opened = HomeDashboard::folderOpenPage(state, folders.front());
    QCOMPARE(opened ? opened->title : QString(), opens);
}

void TestHomeView::topLevelFoldersByPosition()
{
    StoreState state;
    FNFolder b = folder(2, 0, 1);
    FNFolder a = folder(1, 0, 0);
    FNFolder tie = folder(3, 0, 1);
    state.folders = {b, folder(4, 1), a, folder(5, 0, 0, true), tie};
    QStringList names;
    for (const auto &f : HomeDashboard::topLevelFolders(state))
        names << f.name;
    QCOMPARE(names, (QStringList{"F1", "F2", "F3"}));
}

void TestHomeView::recentPagesAreTheEightNewest()
{
    StoreState state;
    for (int i = 0; i < 9; ++i)
        state.pages.push_back(page(QStringLiteral("p%1").arg(i), 0, 0, 0, i + 1));
    state.pages.push_back(page("same A", 0, 0, 0, 0));
    state.pages.push_back(page("deleted", 0, 0, 0, 0, true));
    state.pages.push_back(page("same B", 0, 0, 0, 0));
    const auto recent = HomeDashboard::recentPages(state);
    QCOMPARE(titles(recent), (QStringList{"same A", "same B", "p0", "p1", "p2", "p3", "p4", "p5"}));
}

void TestHomeView::badges_data()
{
    QTest::addColumn<qint64>("serverID");
    QTest::addColumn<std::optional<FNPageStatus>>("status");
    QTest::addColumn<bool>("published");
    QTest::addColumn<bool>("shared");
    const std::optional<FNPageStatus> none;
    QTest::newRow("not on the service")
        << qint64(0) << std::optional(FNPageStatus{true, 2}) << false << false;
    QTest::newRow("no status") << qint64(42) << none << false << false;
    QTest::newRow("nothing set") << qint64(42) << std::optional(FNPageStatus{false, 0}) << false << false;
    QTest::newRow("published") << qint64(42) << std::optional(FNPageStatus{true, 0}) << true << false;
    QTest::newRow("shared") << qint64(42) << std::optional(FNPageStatus{false, 1}) << false << true;
    QTest::newRow("both") << qint64(42) << std::optional(FNPageStatus{true, 3}) << true << true;
}

void TestHomeView::badges()
{
    QFETCH(qint64, serverID);
    QFETCH(std::optional<FNPageStatus>, status);
    QFETCH(bool, published);
    QFETCH(bool, shared);
    StoreState state;
    FNPage p = page("p");
    p.serverID = serverID;
    if (status)
        state.pageStatuses.insert(QStringLiteral("42"), *status);
    // A status under the page's local id must never count.
    state.pageStatuses.insert(p.localID, FNPageStatus{true, 5});
    QCOMPARE(HomeDashboard::pageStatus(state, p), (HomeDashboard::Badges{published, shared}));
}

void TestHomeView::relativeTimes_data()
{
    QTest::addColumn<qint64>("secondsAgo");
    QTest::addColumn<QString>("text");
    QTest::newRow("seconds") << qint64(30) << "30 sec. ago";
    QTest::newRow("minutes") << qint64(5 * 60 + 10) << "5 min. ago";
    QTest::newRow("hours") << qint64(2 * 3600) << "2 hr. ago";
    QTest::newRow("one day") << qint64(86400) << "1 day ago";
    QTest::newRow("days") << qint64(3 * 86400) << "3 days ago";
    QTest::newRow("weeks") << qint64(15 * 86400) << "2 wk. ago";
    QTest::newRow("months") << qint64(65 * 86400) << "2 mo. ago";
    QTest::newRow("years") << qint64(800 * 86400) << "2 yr. ago";
    QTest::newRow("future") << qint64(-120) << "in 2 min.";
}

void TestHomeView::relativeTimes()
{
    QFETCH(qint64, secondsAgo);
    QFETCH(QString, text);
    QCOMPARE(RelativeTime::format(Base.addSecs(-secondsAgo), Base), text);
}

void TestHomeView::sectionsAndPlaceholder_data()
{
    QTest::addColumn<std::vector<FNFolder>>("folders");
    QTest::addColumn<std::vector<FNPage>>("pages");
    QTest::addColumn<int>("folderCards");
    QTest::addColumn<int>("recentCards");
    QTest::addColumn<bool>("placeholder");
    QTest::newRow("nothing") << std::vector<FNFolder>{} << std::vector<FNPage>{} << 0 << 0 << true;
    QTest::newRow("only deleted") << std::vector<FNFolder>{folder(1, 0, 0, true)}
                                  << std::vector<FNPage>{page("x", 0, 0, 0, 0, true)} << 0 << 0 << true;
    QTest::newRow("only subfolders, live pages")
        << std::vector<FNFolder>{folder(2, 9)} << std::vector<FNPage>{page("x")} << 0 << 1 << false;
    QTest::newRow("folders only") << std::vector<FNFolder>{folder(1), folder(2)} << std::vector<FNPage>{} << 2
                                  << 0 << false;
}

void TestHomeView::sectionsAndPlaceholder()
{
    QFETCH(std::vector<FNFolder>, folders);
    QFETCH(std::vector<FNPage>, pages);
    QFETCH(int, folderCards);
    QFETCH(int, recentCards);
    QFETCH(bool, placeholder);
    setState(folders, pages);
    HomeView view(m_app->context());
    QCOMPARE(view.folderCards().size(), folderCards);
    QCOMPARE(view.recentCards().size(), recentCards);
    QCOMPARE(view.foldersSection() != nullptr, folderCards > 0);
    QCOMPARE(view.recentSection() != nullptr, recentCards > 0);
    QCOMPARE(view.placeholder() != nullptr, placeholder);
    if (placeholder) {
        QCOMPARE(view.placeholder()->titleLabel()->text(), QStringLiteral("Nothing here yet"));
    }
}

void TestHomeView::cardsSelectPages()
{
    FNPage nested = page("nested", 10, 77, 0, 1);
    FNPage first = page("first", 10, 0, 0, 2);
    setState({folder(10), folder(0)}, {nested, first});
    HomeView view(m_app->context(), nullptr, [] { return Base; });
    QSignalSpy selected(&view, &HomeView::pageSelected);

    QCOMPARE(view.folderCards().size(), 2);
    QCOMPARE(view.folderCards()[0]->findChild<QLabel *>("count")->text(), QStringLiteral("1 Page"));
    view.folderCards()[0]->click();
    QCOMPARE(selected.size(), 1);
    QCOMPARE(selected.last().at(0).toString(), first.localID);
    // The folder without a server id opens nothing.
    view.folderCards()[1]->click();
    QCOMPARE(selected.size(), 1);

    // A recent card selects exactly its page, nested or not.
    QCOMPARE(labelText(view.recentCards()[0], "title"), QStringLiteral("nested"));
    view.recentCards()[0]->click();
    QCOMPARE(selected.last().at(0).toString(), nested.localID);
}

void TestHomeView::followsTheStoreAndTheClock()
{
    m_app->session.signIn(QStringLiteral("t"),
                          AuthUser{1, QStringLiteral("Ann Lee"), QStringLiteral("a@b.c")});
    QDateTime now = QDateTime(QDate(2024, 5, 1), QTime(8, 30)); // local time
    HomeView view(m_app->context(), nullptr, [&] { return now; });
    QCOMPARE(view.greetingLabel()->text(), QStringLiteral("Good morning, Ann"));
    QVERIFY(view.placeholder());

    FNPage p = page(QString());
    p.updatedAt = now.addSecs(-3 * 3600);
    now = now.addSecs(12 * 3600);
    m_app->store.upsertPage(p);
    QTRY_COMPARE(view.recentCards().size(), 1);
    QCOMPARE(view.greetingLabel()->text(), QStringLiteral("Good evening, Ann"));
    QCOMPARE(labelText(view.recentCards()[0], "title"), QStringLiteral("Untitled"));
    QCOMPARE(labelText(view.recentCards()[0], "time"), QStringLiteral("15 hr. ago"));
    QVERIFY(!view.placeholder());
}

void TestHomeView::dashboardAfterFirstPaint()
{
    setState({folder(10)}, {page("first", 10)});
    HomeView view(
        m_app->context(), nullptr, [] { return Base; }, HomeView::FirstBuild::AfterFirstPaint);
    QVERIFY(view.findChildren<QPushButton *>().isEmpty());
    view.resize(900, 700);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    QTRY_COMPARE(view.findChildren<QPushButton *>().size(), 2);
    QCOMPARE(view.recentCards().size(), 1);

    // Asked before any paint, it is built then.
    HomeView hidden(
        m_app->context(), nullptr, [] { return Base; }, HomeView::FirstBuild::AfterFirstPaint);
    QCOMPARE(hidden.folderCards().size(), 1);
}

void TestHomeView::gridInTheWindow_data()
{
    QTest::addColumn<QStringList>("names");
    QTest::newRow("even names") << QStringList{"Alpha", "Bravo", "Charlie", "Delta", "Echo"};
    QTest::newRow("uneven names") << QStringList{"A", "Quarterly planning", "Research",
                                                 "B", "Travel notes",       "C"};
    QTest::newRow("fewer than a row") << QStringList{"Only", "Two"};
}

// Four equal columns in the real window, wider as the window widens, the section centred and
// capped, and names long enough to read are shown whole.
void TestHomeView::gridInTheWindow()
{
    QFETCH(QStringList, names);
    std::vector<FNFolder> folders;
    std::vector<FNPage> pages;
    for (int i = 0; i < names.size(); ++i) {
        FNFolder f = folder(i + 1, 0, i);
        f.name = names[i];
        folders.push_back(f);
        pages.push_back(
            page(names[i] + QStringLiteral(" page with a title long enough to wrap once"), 0, 0, 0, i));
    }
    setState(folders, pages);
    MainView window(m_app->context());
    window.resize(1000, 700);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    HomeView *home = window.homeView();
    QVERIFY(home);
    // Shown first, the dashboard is built after the window's first paint and laid out after that.
    QTRY_VERIFY(!home->findChildren<QPushButton *>().isEmpty() && home->foldersSection()->isVisible() &&
                home->recentSection()->isVisible());

    QList<int> widths;
    for (const int windowWidth : {1000, 1400}) {
        window.resize(windowWidth, 700);
        QTRY_COMPARE(home->width() > 0, true);
        QCoreApplication::processEvents();
        for (QWidget *section : {home->foldersSection(), home->recentSection()}) {
            QVERIFY(section);
            const QList<QPushButton *> &cards =
                section == home->foldersSection() ? home->folderCards() : home->recentCards();
            QCOMPARE(cards.size(), names.size());
            const int available = section->parentWidget()->width() - 2 * 40;
            QCOMPARE(section->width(), qMin(880, available));
            QVERIFY(qAbs(section->geometry().center().x() - section->parentWidget()->rect().center().x()) <=
                    1);
            const int width = cards[0]->width();
            QVERIFY(width > 0);
            for (int i = 0; i < cards.size(); ++i) {
                const QRect r = cards[i]->geometry();
                QVERIFY2(qAbs(r.width() - width) <= 1, qPrintable(QString::number(i)));
                QCOMPARE(r.top(), cards[i / 4 * 4]->geometry().top()); // row by row
                if (i % 4)
                    QCOMPARE(r.left() - cards[i - 1]->geometry().right() - 1, 14);
                else
                    QCOMPARE(r.left(), cards[0]->geometry().left());
                if (i >= 4)
                    QVERIFY(r.top() > cards[i - 4]->geometry().bottom());
            }
            // Four cards and three gaps fill the section, even when fewer than four are shown.
            QVERIFY(qAbs(4 * width + 3 * 14 - section->width()) <= 3);
        }
        widths << home->folderCards()[0]->width();

        for (QPushButton *card : home->folderCards()) {
            auto *name = card->findChild<FittedText *>("name");
            if (name->fontMetrics().horizontalAdvance(name->text()) <= 100) {
                QVERIFY2(name->width() >= name->fontMetrics().horizontalAdvance(name->text()),
                         qPrintable(name->text()));
                QCOMPARE(name->shownLines(), QStringList{name->text()});
            }
        }
        for (QPushButton *card : home->recentCards()) {
            auto *title = card->findChild<FittedText *>("title");
            // Too long for one line: it takes two, inside the card.
            QVERIFY(title->height() >= 2 * title->fontMetrics().lineSpacing());
            QVERIFY(card->rect().contains(title->geometry()));
        }
    }
    QVERIFY2(widths[1] > widths[0], qPrintable(QStringLiteral("%1 %2").arg(widths[0]).arg(widths[1])));
}

QTEST_MAIN(TestHomeView)
#include "tst_home_view.moc"
