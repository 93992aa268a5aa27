#include "app/home_dashboard.h"
#include "app/home_view.h"
#include "app/main_view.h"
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

namespace {

const QDateTime Base(QDate(2024, 5, 1), QTime(12, 0), Qt::UTC);

FNFolder folder(qint64 serverID, qint64 parent = 0, qint64 position = 0, bool deleted = false)
{
    FNFolder f;
    f.serverID = serverID;
    f.parentFolderServerID = parent;
    f.position = position;
    f.name = QStringLiteral("F%1").arg(serverID);
    if (deleted)
        f.deletedAt = Base;
    return f;
}

FNPage page(const QString &title, qint64 folderID = 0, qint64 parentPage = 0, qint64 position = 0,
            int minutesAgo = 0, bool deleted = false)
{
    FNPage p;
    p.title = title;
    p.folderServerID = folderID;
    p.parentPageServerID = parentPage;
    p.position = position;
    p.updatedAt = Base.addSecs(-60 * minutesAgo);
    if (deleted)
        p.deletedAt = Base;
    return p;
}

QString labelText(const QWidget *card, const char *name)
{
    if (const auto *text = card->findChild<FittedText *>(QLatin1String(name)))
        return text->text();
    const auto *label = card->findChild<QLabel *>(QLatin1String(name));
    if (!label)
        return QStringLiteral("-");
    // An icon is drawn as a picture and named for what it shows.
    return label->pixmap().isNull() ? label->text() : label->accessibleName();
}

// What the dashboard shows on screen, card by card in order, read from the widgets themselves (not
// through the view's getters, which would fill what is still waiting).
QStringList onScreen(const QWidget &home)
{
    QStringList lines;
    for (const char *name : {"folders", "recent"}) {
        for (const QWidget *section : home.findChildren<QWidget *>(QLatin1String(name))) {
            if (!section->isVisibleTo(&home))
                continue;
            for (const QPushButton *card : section->findChildren<QPushButton *>(Qt::FindDirectChildrenOnly)) {
                if (!card->isVisibleTo(&home))
                    continue;
                QStringList line{QLatin1String(name), labelText(card, "icon")};
                if (card->objectName() == QLatin1String("folderCard")) {
                    line << labelText(card, "name") << labelText(card, "count");
                } else {
                    line << labelText(card, "title") << labelText(card, "time");
                    for (const char *badge : {"globe", "person.2.fill"}) {
                        const auto *label = card->findChild<QLabel *>(QLatin1String(badge));
                        if (label && label->isVisibleTo(card))
                            line << QLatin1String(badge);
                    }
                }
                lines << line.join(QLatin1Char('|'));
            }
        }
    }
    for (const EmptyStateView *placeholder : home.findChildren<EmptyStateView *>()) {
        if (placeholder->isVisibleTo(&home))
            lines << QStringLiteral("placeholder");
    }
    return lines;
}

// Counts, for every widget inside a view, its paints and whether it was asked to lay out again.
class Redraws : public QObject
{
public:
    explicit Redraws(QWidget *root)
    {
        root->installEventFilter(this);
        for (QWidget *widget : root->findChildren<QWidget *>())
            widget->installEventFilter(this);
    }
    QHash<QObject *, int> paints;
    QSet<QObject *> laidOut;

    QString laidOutNames() const
    {
        QStringList names;
        for (const QObject *object : laidOut)
            names << QString::fromLatin1(object->metaObject()->className()) + u' ' + object->objectName();
        return names.join(QStringLiteral(", "));
    }

    // Lets what was still queued before the count began run, and forgets it.
    void settle()
    {
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
        paints.clear();
        laidOut.clear();
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Paint)
            ++paints[watched];
        else if (event->type() == QEvent::LayoutRequest)
            laidOut.insert(watched);
        return false;
    }
};

// Where every widget of the view stands.
QHash<QWidget *, QRect> geometries(QWidget *root)
{
    QHash<QWidget *, QRect> all;
    for (QWidget *widget : root->findChildren<QWidget *>())
        all.insert(widget, widget->geometry());
    return all;
}

// Lets anything still queued lay out and draw, so only what follows is counted.
void drawnNow(QWidget *window)
{
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
    window->repaint();
    QCoreApplication::processEvents();
}

// The lines fit the box, and the text shows whole or, cut short, ends in "…" with the whole text
// (escaped, as drawn) as the tooltip.
void checkFitted(const FittedText *text, const QString &full, bool elided)
{
    QCOMPARE(text->text(), full);
    QCOMPARE(text->isElided(), elided);
    QVERIFY(text->shownLines().size() <= text->lineCount());
    for (const QString &line : text->shownLines())
        QVERIFY2(text->fontMetrics().horizontalAdvance(line) <= text->contentsRect().width(),
                 qPrintable(line));
    if (elided) {
        QVERIFY(text->shownLines().last().endsWith(QChar(0x2026)));
        QString first = text->shownLines().first();
        if (first.endsWith(QChar(0x2026)))
            first.chop(1);
        QVERIFY2(full.startsWith(first.trimmed()), qPrintable(first));
        // Read back the way a tooltip is drawn: as rich text whenever it looks like markup.
        QTextDocument tip;
        if (Qt::mightBeRichText(text->toolTip()))
            tip.setHtml(text->toolTip());
        else
            tip.setPlainText(text->toolTip());
        QCOMPARE(tip.toPlainText(), full);
    } else {
        QCOMPARE(text->shownLines().join(QLatin1Char(' ')), full);
        QCOMPARE(text->toolTip(), QString());
    }
}

using StoreEdit =
    std::function<void(LocalStore &, const std::vector<FNFolder> &, const std::vector<FNPage> &)>;

} // namespace

Q_DECLARE_METATYPE(StoreEdit)

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
    void cardsFollowEachKindOfChange_data();
    void cardsFollowEachKindOfChange();
    void manyFoldersFilledOverSeveralTurns_data();
    void manyFoldersFilledOverSeveralTurns();
    void renameRedrawsItsCardAlone_data();
    void renameRedrawsItsCardAlone();
    void folderRenameRedrawsItsCardAlone();

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
    m_app->store.change([&](StoreState &s) {
        s.folders = folders;
        s.pages = pages;
    });
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

void TestHomeView::cardsFollowEachKindOfChange_data()
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
void TestHomeView::cardsFollowEachKindOfChange()
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

void TestHomeView::manyFoldersFilledOverSeveralTurns_data()
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
void TestHomeView::manyFoldersFilledOverSeveralTurns()
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

void TestHomeView::renameRedrawsItsCardAlone_data()
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
void TestHomeView::renameRedrawsItsCardAlone()
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
void TestHomeView::folderRenameRedrawsItsCardAlone()
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

QTEST_MAIN(TestHomeView)
#include "tst_home_view.moc"
