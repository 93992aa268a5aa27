#include "app/home_dashboard.h"
#include "app/main_view.h"
#include "home_view_fixture.h"
#include "support/app_harness.h"

#include <QPointer>
#include <QTimer>

#include <memory>

// The dashboard's cards as the store changes under them: each change reaches the card it concerns,
// a rename redraws that card alone, and cards made over several turns end as if made at once.
class TestHomeCards : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();

    void cardsFollowEachKindOfChange_data();
    void cardsFollowEachKindOfChange();
    void manyFoldersFilledOverSeveralTurns_data();
    void manyFoldersFilledOverSeveralTurns();
    void cardsMadeOnScreenArePlacedInTheirTurn();
    void cardsAreRoundedPanels();
    void renameRedrawsItsCardAlone_data();
    void renameRedrawsItsCardAlone();
    void folderRenameRedrawsItsCardAlone();

private:
    void setState(const std::vector<FNFolder> &folders, const std::vector<FNPage> &pages)
    {
        setStoreState(m_app->store, folders, pages);
    }

    std::unique_ptr<AppDevice> m_device;
    std::unique_ptr<AppHarness> m_app;
};

void TestHomeCards::init()
{
    m_device = std::make_unique<AppDevice>();
    m_app = std::make_unique<AppHarness>(*m_device);
}

void TestHomeCards::cleanup()
{
    m_app.reset();
    m_device.reset();
}

void TestHomeCards::cardsFollowEachKindOfChange_data()
{
    QTest::addColumn<StoreEdit>("edit");
    using Folders = const std::vector<FNFolder> &;
    using Pages = const std::vector<FNPage> &;
    const auto row = [](const char *name, StoreEdit edit) { QTest::newRow(name) << edit; };
    row("a recent page renamed", [](LocalStore &s, Folders, Pages p) {
        s.editPage(p[3].localID, [](FNPage &page) { page.title = QStringLiteral("Renamed"); });
    });
    row("an old page renamed", [](LocalStore &s, Folders, Pages p) {
        s.editPage(p[11].localID, [](FNPage &page) { page.title = QStringLiteral("Renamed"); });
    });
    row("a page's icon", [](LocalStore &s, Folders, Pages p) {
        s.editPage(
            p[2].localID, [](FNPage &page) { page.icon = QStringLiteral("🌵"); }, LocalStore::Stamp::Keep);
    });
    row("a new page in a folder",
        [](LocalStore &s, Folders, Pages) { s.upsertPage(page(QStringLiteral("New"), 2, 0, 9, -5)); });
    row("a recent page deleted", [](LocalStore &s, Folders, Pages p) { s.markPageDeleted(p[1].localID); });
    row("a page restored", [](LocalStore &s, Folders, Pages p) { s.restorePage(p[9].localID); });
    row("a page moved to another folder", [](LocalStore &s, Folders, Pages p) {
        s.editPage(
            p[4].localID, [](FNPage &page) { page.folderServerID = 3; }, LocalStore::Stamp::Keep);
    });
    row("a page made a subpage", [](LocalStore &s, Folders, Pages p) {
        s.editPage(
            p[5].localID, [&](FNPage &page) { page.parentPageServerID = p[0].serverID; },
            LocalStore::Stamp::Keep);
    });
    row("a recent page filed as changed long ago", [](LocalStore &s, Folders, Pages p) {
        s.editPage(
            p[0].localID, [](FNPage &page) { page.updatedAt = Base.addDays(-400); }, LocalStore::Stamp::Keep);
    });
    row("a pull of several pages", [](LocalStore &s, Folders, Pages p) {
        s.batch([&] {
            for (const int i : {6, 10}) {
                FNPage pulled = *s.page(p[size_t(i)].localID);
                pulled.title += QStringLiteral(" (pulled)");
                pulled.updatedAt = Base.addSecs(30 + i);
                s.upsertPage(pulled);
            }
        });
    });
    row("a folder renamed", [](LocalStore &s, Folders f, Pages) {
        s.editFolder(f[1].localID, [](FNFolder &folder) { folder.name = QStringLiteral("Renamed"); });
    });
    row("a folder's icon", [](LocalStore &s, Folders f, Pages) {
        s.editFolder(f[0].localID, [](FNFolder &folder) { folder.icon = QStringLiteral("🗂"); });
    });
    row("a folder moved first", [](LocalStore &s, Folders f, Pages) {
        s.editFolder(f[2].localID, [](FNFolder &folder) { folder.position = -1; });
    });
    row("a new folder", [](LocalStore &s, Folders, Pages) { s.upsertFolder(folder(9, 0, 7)); });
    row("a subfolder", [](LocalStore &s, Folders, Pages) { s.upsertFolder(folder(9, 2, 7)); });
    row("a folder deleted", [](LocalStore &s, Folders f, Pages) { s.markFolderDeleted(f[0].localID); });
    row("a page's badges", [](LocalStore &s, Folders, Pages p) {
        s.setPageStatus(p[1].serverID, FNPageStatus{true, 2});
    });
    row("everything at once", [](LocalStore &s, Folders, Pages) {
        s.change([](StoreState &state) { state.pages.front().title = QStringLiteral("Bulk"); });
    });
}

// After each kind of change the dashboard in the window shows what one built afresh shows, and the
// cards already there stay the same widgets: a change fills cards, it does not make them again.
void TestHomeCards::cardsFollowEachKindOfChange()
{
    QFETCH(StoreEdit, edit);
    std::vector<FNFolder> folders;
    for (int i = 1; i <= 3; ++i) {
        folders.push_back(folder(i, 0, i));
        folders.back().icon = QStringLiteral("📁");
    }
    folders.push_back(folder(4, 1, 0));
    std::vector<FNPage> pages;
    for (int i = 0; i < 13; ++i) {
        FNPage p = page(QStringLiteral("Page %1").arg(i), i % 4, 0, i, 10 * (i + 1), i == 9);
        p.serverID = 100 + i;
        pages.push_back(p);
    }
    setState(folders, pages);
    const QDateTime now = Base.addSecs(120);
    m_app->store.setClock([now] { return now; });
    m_app->store.setPageStatus(pages[2].serverID, FNPageStatus{false, 1});
    MainView window(m_app->context());
    window.setHomeClock([now] { return now; });
    window.resize(1200, 800);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    HomeView *home = window.homeView();
    QVERIFY(home);
    QTRY_COMPARE(home->recentCards().size(), 8);
    const QStringList before = onScreen(*home);
    QCOMPARE(before.size(), 3 + 8);
    QList<QPointer<QPushButton>> cards;
    for (QPushButton *card : home->folderCards() + home->recentCards())
        cards << card;

    edit(m_app->store, folders, pages);
    const HomeView fresh(m_app->context(), nullptr, [now] { return now; });
    const QStringList expected = onScreen(fresh);
    QVERIFY(expected != before);
    QTRY_COMPARE(onScreen(*home), expected);
    const QList<QPushButton *> folderCards = home->folderCards();
    const QList<QPushButton *> recentCards = home->recentCards();
    for (qsizetype i = 0; i < cards.size(); ++i) {
        const bool isFolder = i < 3;
        const QList<QPushButton *> &now = isFolder ? folderCards : recentCards;
        const qsizetype slot = isFolder ? i : i - 3;
        if (slot < now.size())
            QVERIFY2(cards[i] == now[slot], qPrintable(QStringLiteral("card %1 made again").arg(i)));
    }
}

void TestHomeCards::manyFoldersFilledOverSeveralTurns_data()
{
    QTest::addColumn<StoreEdit>("edit");
    using Folders = const std::vector<FNFolder> &;
    using Pages = const std::vector<FNPage> &;
    const auto row = [](const char *name, StoreEdit edit) { QTest::newRow(name) << edit; };
    row("nothing changes", [](LocalStore &, Folders, Pages) {});
    row("a folder not yet shown renamed", [](LocalStore &s, Folders f, Pages) {
        s.editFolder(f[190].localID, [](FNFolder &folder) { folder.name = QStringLiteral("Renamed"); });
    });
    row("a shown folder moved last", [](LocalStore &s, Folders f, Pages) {
        s.editFolder(f[0].localID, [](FNFolder &folder) { folder.position = 99; });
    });
    row("most folders deleted", [](LocalStore &s, Folders f, Pages) {
        s.batch([&] {
            for (size_t i = 3; i < f.size(); ++i)
                s.markFolderDeleted(f[i].localID);
        });
    });
    row("folders added", [](LocalStore &s, Folders, Pages) {
        for (int i = 0; i < 5; ++i)
            s.upsertFolder(folder(500 + i, 0, 50 + i));
    });
    row("everything at once",
        [](LocalStore &s, Folders, Pages) { s.change([](StoreState &state) { state.folders.resize(20); }); });
    // The recent cards are made after the folders' in the same way.
    row("a recent page renamed before its card is made", [](LocalStore &s, Folders, Pages p) {
        s.editPage(p[0].localID, [](FNPage &page) { page.title = QStringLiteral("Renamed here"); });
    });
    row("a newer page added before the recent cards are made",
        [](LocalStore &s, Folders, Pages) { s.upsertPage(page(QStringLiteral("Newest"), 0, 0, 0, 0)); });
    row("a recent page deleted before its card is made",
        [](LocalStore &s, Folders, Pages p) { s.markPageDeleted(p[1].localID); });
}

// Hundreds of folders are made into cards over several turns of the event loop; whatever changes
// between those turns, the dashboard ends as one built at once shows it.
void TestHomeCards::manyFoldersFilledOverSeveralTurns()
{
    QFETCH(StoreEdit, edit);
    std::vector<FNFolder> folders;
    for (int i = 1; i <= 200; ++i)
        folders.push_back(folder(i, 0, i));
    std::vector<FNPage> pages;
    for (int i = 0; i < 60; ++i)
        pages.push_back(page(QStringLiteral("Page %1").arg(i), 1 + i % 200, 0, i, i));
    setState(folders, pages);
    const QDateTime now = Base.addSecs(120);
    MainView window(m_app->context());
    window.setHomeClock([now] { return now; });
    window.resize(1200, 800);
    // A card a turn: on a fast machine a turn would otherwise have room for every card.
    QVERIFY(window.homeView());
    window.homeView()->setCardsTurn(std::chrono::milliseconds(0));

    // The edit comes at the turn after the first cards were made, before the last are.
    struct EditAfterFirstCards : QObject {
        std::function<void()> edit;
        int cards = 0;
        bool eventFilter(QObject *, QEvent *event) override
        {
            if (event->type() == QEvent::ChildAdded && ++cards == 1)
                QMetaObject::invokeMethod(this, edit, Qt::QueuedConnection);
            return false;
        }
    } hook;
    int cardsWhenEdited = -1;
    hook.edit = [&] {
        const auto *section = window.homeView()->findChild<QWidget *>(QStringLiteral("folders"));
        cardsWhenEdited = int(section->findChildren<QPushButton *>(Qt::FindDirectChildrenOnly).size());
        edit(m_app->store, folders, pages);
    };
    QTimer watch; // the folders section appears with the first fill
    connect(&watch, &QTimer::timeout, this, [&] {
        if (HomeView *home = window.homeView()) {
            if (auto *section = home->findChild<QWidget *>(QStringLiteral("folders"))) {
                section->installEventFilter(&hook);
                watch.stop();
            }
        }
    });
    watch.start(0);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QTRY_VERIFY(cardsWhenEdited >= 0);
    QVERIFY2(cardsWhenEdited > 0 && cardsWhenEdited < 200, qPrintable(QString::number(cardsWhenEdited)));

    HomeView fresh(m_app->context(), nullptr, [now] { return now; });
    (void)fresh.folderCards();
    const QStringList expected = onScreen(fresh);
    QTRY_COMPARE(onScreen(*window.homeView()), expected);
}

// Cards made while the dashboard is on screen are in the grid, in order, by the end of the turn
// that made them.
void TestHomeCards::cardsMadeOnScreenArePlacedInTheirTurn()
{
    std::vector<FNFolder> folders;
    for (int i = 1; i <= 6; ++i)
        folders.push_back(folder(i, 0, i));
    setState(folders, {});
    MainView window(m_app->context());
    window.resize(1200, 800);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    HomeView *home = window.homeView();
    QTRY_VERIFY(home->foldersSection() && home->foldersSection()->isVisible());
    QTRY_COMPARE(home->findChildren<QPushButton *>(QStringLiteral("folderCard")).size(), 6);

    // A pull brings many more: their cards are made with no turn of the event loop in between.
    m_app->store.batch([&] {
        for (int i = 7; i <= 80; ++i)
            m_app->store.upsertFolder(folder(i, 0, i));
    });
    const QList<QPushButton *> &cards = home->folderCards();
    QCOMPARE(cards.size(), 80);
    const QRect section = home->foldersSection()->rect();
    for (int i = 0; i < cards.size(); ++i) {
        const QRect r = cards[i]->geometry();
        QVERIFY2(section.contains(r), qPrintable(QString::number(i)));
        QCOMPARE(r.top(), cards[i / 4 * 4]->geometry().top());
        if (i % 4)
            QVERIFY(r.left() > cards[i - 1]->geometry().right());
        if (i >= 4)
            QVERIFY(r.top() > cards[i - 4]->geometry().bottom());
    }
}

// Each card is a panel of its own: a faint wash inside a hairline, its corners rounded off, its
// second line in a quieter tone than its first.
void TestHomeCards::cardsAreRoundedPanels()
{
    setState({folder(1, 0, 1)}, {page(QStringLiteral("Notes"), 1, 0, 0, 0)});
    MainView window(m_app->context());
    window.resize(1000, 700);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    HomeView *home = window.homeView();
    QTRY_VERIFY(home->foldersSection() && home->foldersSection()->isVisible());
    for (QPushButton *card : {home->folderCards().value(0), home->recentCards().value(0)}) {
        QVERIFY(card);
        const QImage image = card->grab().toImage();
        const int middle = image.height() / 2;
        const QColor background = card->palette().color(QPalette::Window);
        const QColor corner = image.pixelColor(0, 0);
        const QColor edge = image.pixelColor(0, middle);
        const QColor inside = image.pixelColor(4, middle); // in the card's margin, clear of its text
        QCOMPARE(corner, background);
        QVERIFY2(inside.lightness() < background.lightness(), qPrintable(card->objectName()));
        QVERIFY2(edge.lightness() < inside.lightness(), qPrintable(card->objectName()));
    }
    // The line under the name is quieter than the name.
    const auto darkest = [](QWidget *text) {
        const QImage image = text->grab().toImage();
        int lightness = 255;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x)
                lightness = std::min(lightness, image.pixelColor(x, y).lightness());
        }
        return lightness;
    };
    for (const auto &[card, name, quiet] : {std::tuple{home->folderCards().value(0), "name", "count"},
                                            std::tuple{home->recentCards().value(0), "title", "time"}}) {
        const int loud = darkest(card->findChild<QWidget *>(QLatin1String(name)));
        const int soft = darkest(card->findChild<QWidget *>(QLatin1String(quiet)));
        QVERIFY2(soft > loud + 40, qPrintable(QStringLiteral("%1 %2 %3").arg(quiet).arg(soft).arg(loud)));
    }
}

void TestHomeCards::renameRedrawsItsCardAlone_data()
{
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<bool>("elided");
    const QString longTitle =
        QStringLiteral("Quarterly planning notes for the whole team ").repeated(6).trimmed();
    const QString markup = QStringLiteral("<b>Bold</b> & <i>Q&A</i>");
    QTest::newRow("short") << QStringLiteral("Plan B") << QStringLiteral("Plan B") << false;
    QTest::newRow("long") << longTitle << longTitle << true;
    QTest::newRow("markup-like") << markup << markup << false;
    QTest::newRow("markup-like and long") << markup.repeated(12) << markup.repeated(12) << true;
    QTest::newRow("emoji") << QStringLiteral("🌵 Cactus 🌵") << QStringLiteral("🌵 Cactus 🌵") << false;
    QTest::newRow("one word longer than the card")
        << QStringLiteral("x").repeated(300) << QStringLiteral("x").repeated(300) << true;
    QTest::newRow("emptied") << QString() << QStringLiteral("Untitled") << false;
}

// A rename in the window shows on the card that had the page, and nothing else is drawn or laid out
// again: no other card, no other part of the dashboard.
void TestHomeCards::renameRedrawsItsCardAlone()
{
    QFETCH(QString, title);
    QFETCH(QString, shown);
    QFETCH(bool, elided);
    std::vector<FNPage> pages;
    for (int i = 0; i < 8; ++i)
        pages.push_back(page(QStringLiteral("Page %1").arg(i), 0, 0, i, 10 * (i + 1)));
    setState({folder(1), folder(2)}, pages);
    const QDateTime now = Base.addSecs(120);
    m_app->store.setClock([now] { return now; });
    MainView window(m_app->context());
    window.setHomeClock([now] { return now; });
    window.resize(1200, 800);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    HomeView *home = window.homeView();
    QVERIFY(home);
    QTRY_COMPARE(home->recentCards().size(), 8);
    drawnNow(&window);
    QPointer<QPushButton> card = home->recentCards()[0];
    auto *cardTitle = card->findChild<FittedText *>(QStringLiteral("title"));
    QVERIFY(cardTitle);
    QCOMPARE(cardTitle->text(), QStringLiteral("Page 0"));
    const QHash<QWidget *, QRect> before = geometries(home);
    const QStringList others = onScreen(*home).mid(3);

    Redraws redraws(home);
    redraws.settle();
    m_app->store.editPage(pages[0].localID, [&](FNPage &p) { p.title = title; });
    QTRY_VERIFY(redraws.paints.value(cardTitle) > 0);
    QCoreApplication::processEvents();
    QVERIFY(card);
    QCOMPARE(home->recentCards()[0], card.data());
    checkFitted(cardTitle, shown, elided);
    QCOMPARE(onScreen(*home).mid(3), others);
    QCOMPARE(geometries(home), before);
    QVERIFY2(redraws.laidOut.isEmpty(), qPrintable(redraws.laidOutNames()));
    for (QWidget *widget : home->findChildren<QWidget *>()) {
        if (widget == card || card->isAncestorOf(widget) || widget->isAncestorOf(card))
            continue;
        QVERIFY2(!redraws.paints.contains(widget),
                 qPrintable(widget->objectName() + QLatin1Char(' ') + labelText(widget, "title")));
    }

    // Wider, a long title shows more of itself; it still fits.
    window.resize(1600, 800);
    QTRY_VERIFY(cardTitle->width() > before.value(cardTitle).width());
    checkFitted(cardTitle, shown, elided && cardTitle->isElided());
}

// A folder's name is one line: a long one is cut short with the whole name as its tooltip, and a
// rename redraws that card alone.
void TestHomeCards::folderRenameRedrawsItsCardAlone()
{
    setState({folder(1), folder(2, 0, 1)}, {page("first", 1)});
    MainView window(m_app->context());
    window.resize(1200, 800);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    HomeView *home = window.homeView();
    QVERIFY(home);
    QTRY_COMPARE(home->folderCards().size(), 2);
    drawnNow(&window);
    QPointer<QPushButton> card = home->folderCards()[1];
    auto *name = card->findChild<FittedText *>(QStringLiteral("name"));
    QVERIFY(name);
    const QHash<QWidget *, QRect> before = geometries(home);

    const QString longName = QStringLiteral("Research & <em>Development</em> archive ").repeated(5).trimmed();
    for (const QString &renamed : {longName, QStringLiteral("R&D")}) {
        Redraws redraws(home);
        redraws.settle();
        m_app->store.editFolder(m_app->store.state().folders[1].localID,
                                [&](FNFolder &f) { f.name = renamed; });
        QTRY_VERIFY(redraws.paints.value(name) > 0);
        QCOMPARE(home->folderCards()[1], card.data());
        checkFitted(name, renamed, renamed == longName);
        QCOMPARE(geometries(home), before);
        QVERIFY2(redraws.laidOut.isEmpty(), qPrintable(redraws.laidOutNames()));
        QVERIFY(!redraws.paints.contains(home->folderCards()[0]));
    }
}

QTEST_MAIN(TestHomeCards)
#include "tst_home_cards.moc"
