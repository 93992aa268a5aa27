#include "app/main_view.h"
#include "app/quick_switcher.h"
#include "app/quick_switcher_model.h"
#include "support/app_harness.h"

#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QSignalSpy>
#include <QTest>

#include <algorithm>
#include <memory>

namespace {

const QDateTime Base(QDate(2024, 5, 1), QTime(12, 0), Qt::UTC);

FNPage page(const QString &title, int minutesAgo, bool deleted = false, qint64 workspace = 1)
{
    FNPage p;
    p.title = title;
    p.workspaceServerID = workspace;
    p.updatedAt = Base.addSecs(-60 * minutesAgo);
    if (deleted)
        p.deletedAt = Base;
    return p;
}

} // namespace

class TestQuickSwitcher : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();

    void filtering_data();
    void filtering();
    void atMostFiftyNewestFirst();
    void highlightStopsAtTheEnds();
    void pickNeedsAValidHighlight();
    void messages_data();
    void messages();

    void keyboardDrivesThePanel();
    void escapeClosesWithoutPicking();
    void returnWithoutResultsStaysOpen();
    void clickPicksThatRow();
    void clickAfterFilteringPicksTheShownPage_data();
    void clickAfterFilteringPicksTheShownPage();
    void highlightKeepsTheTextInPlace_data();
    void highlightKeepsTheTextInPlace();
    void heightFollowsTheRows_data();
    void heightFollowsTheRows();
    void staysOverTheWindowWhileFiltering();

private:
    void setPages(std::vector<FNPage> pages);
    QuickSwitcher *openSwitcher();
    QuickSwitcher *openFromMainWindow();

    std::unique_ptr<AppDevice> m_device;
    std::unique_ptr<AppHarness> m_app;
    std::unique_ptr<QWidget> m_window;
    std::unique_ptr<MainView> m_main;
};

void TestQuickSwitcher::init()
{
    m_device = std::make_unique<AppDevice>();
    m_app = std::make_unique<AppHarness>(*m_device);
}

void TestQuickSwitcher::cleanup()
{
    m_main.reset();
    m_window.reset();
    m_app.reset();
    m_device.reset();
}

void TestQuickSwitcher::setPages(std::vector<FNPage> pages)
{
    m_app->store.change([&](StoreState &s) { s.pages = std::move(pages); });
}

QuickSwitcher *TestQuickSwitcher::openSwitcher()
{
    m_window = std::make_unique<QWidget>();
    m_window->resize(800, 600);
    m_window->show();
    auto *switcher = new QuickSwitcher(m_app->context(), m_window.get());
    switcher->setAttribute(Qt::WA_DeleteOnClose);
    switcher->open();
    return switcher;
}

void TestQuickSwitcher::filtering_data()
{
    QTest::addColumn<QString>("query");
    QTest::addColumn<QStringList>("expected");
    // Store order; newer pages come first in results.
    QTest::newRow("empty") << ""
                           << QStringList{"Alpha", "", "Beta UNTIL", "Café", "Cafe\u0301 noir", "Résumé"};
    QTest::newRow("only spaces") << "   " << QStringList{"Alpha",           "",      "Beta UNTIL", "Café",
                                                         "Cafe\u0301 noir", "Résumé"};
    QTest::newRow("case") << "ALP" << QStringList{"Alpha"};
    QTest::newRow("trimmed") << " \talpha\t " << QStringList{"Alpha"};
    QTest::newRow("untitled, any case") << "UnTi" << QStringList{"", "Beta UNTIL"};
    QTest::newRow("accents are not folded") << "resume" << QStringList{};
    QTest::newRow("composed query finds both spellings") << "café" << QStringList{"Café", "Cafe\u0301 noir"};
    QTest::newRow("decomposed query finds both spellings")
        << "cafe\u0301" << QStringList{"Café", "Cafe\u0301 noir"};
    QTest::newRow("inside a word") << "sum" << QStringList{"Résumé"};
    QTest::newRow("line break is not trimmed") << "alpha\n" << QStringList{};
}

void TestQuickSwitcher::filtering()
{
    QFETCH(QString, query);
    QFETCH(QStringList, expected);
    StoreState state;
    state.pages = {page("Alpha", 1),
                   page("", 2),
                   page("Deleted alpha untitled", 0, true),
                   page("Beta UNTIL", 3, false, 99), // another workspace takes part
                   page("Café", 4),
                   page("Cafe\u0301 noir", 5),
                   page("Résumé", 6)};
    QCOMPARE(titles(QuickSwitcherModel::results(state, query)), expected);
}

void TestQuickSwitcher::atMostFiftyNewestFirst()
{
    StoreState state;
    for (int i = 0; i < 60; ++i)
        state.pages.push_back(page(QStringLiteral("p%1").arg(i), 60 - i)); // the last is the newest
    state.pages.push_back(page("tie first", 0));
    state.pages.push_back(page("tie second", 0));
    const auto results = QuickSwitcherModel::results(state, QString());
    QCOMPARE(results.size(), size_t(50));
    QCOMPARE(results[0].title, QStringLiteral("tie first"));
    QCOMPARE(results[1].title, QStringLiteral("tie second"));
    QCOMPARE(results[2].title, QStringLiteral("p59"));
    QCOMPARE(results[49].title, QStringLiteral("p12"));
}

void TestQuickSwitcher::highlightStopsAtTheEnds()
{
    setPages({page("a", 1), page("b", 2), page("c", 3)});
    QuickSwitcherModel model(m_app->store);
    model.moveUp();
    QCOMPARE(model.highlighted(), 0);
    model.moveDown();
    model.moveDown();
    model.moveDown();
    QCOMPARE(model.highlighted(), 2);
    model.moveUp();
    QCOMPARE(model.highlighted(), 1);
    model.setQuery(QStringLiteral("a")); // typing returns to the first row
    QCOMPARE(model.highlighted(), 0);

    model.setQuery(QStringLiteral("zzz"));
    model.moveDown();
    QCOMPARE(model.highlighted(), 0);
    model.moveUp();
    QCOMPARE(model.highlighted(), 0);
}

void TestQuickSwitcher::pickNeedsAValidHighlight()
{
    setPages({page("a", 1), page("b", 2), page("c", 3)});
    QuickSwitcherModel model(m_app->store);
    model.moveDown();
    model.moveDown();
    QCOMPARE(model.pick()->title, QStringLiteral("c"));
    // The store shrank under the highlight: nothing to pick.
    setPages({page("a", 1)});
    QVERIFY(!model.pick());
}

void TestQuickSwitcher::messages_data()
{
    QTest::addColumn<QString>("query");
    QTest::addColumn<QString>("message");
    QTest::newRow("no query") << ""
                              << "No pages yet.";
    QTest::newRow("query as typed") << "  Zed "
                                    << "No pages match “  Zed ”.";
}

void TestQuickSwitcher::messages()
{
    QFETCH(QString, query);
    QFETCH(QString, message);
    QuickSwitcherModel model(m_app->store);
    model.setQuery(query);
    QCOMPARE(model.emptyMessage(), message);
}

void TestQuickSwitcher::keyboardDrivesThePanel()
{
    const FNPage b = page("beta", 2);
    setPages({page("alpha", 1), b, page("gamma", 3)});
    QuickSwitcher *switcher = openSwitcher();
    QPointer<QuickSwitcher> alive(switcher);
    QSignalSpy picked(switcher, &QuickSwitcher::picked);
    QTRY_VERIFY(switcher->searchField()->hasFocus());
    QCOMPARE(switcher->list()->count(), 3);

    QTest::keyClick(switcher->searchField(), Qt::Key_Down);
    QTest::keyClick(switcher->searchField(), Qt::Key_Down);
    QTest::keyClick(switcher->searchField(), Qt::Key_Down);
    QCOMPARE(switcher->model().highlighted(), 2);
    QCOMPARE(switcher->list()->currentRow(), 2);
    QTest::keyClicks(switcher->searchField(), QStringLiteral("a"));
    QCOMPARE(switcher->model().highlighted(), 0);
    QCOMPARE(switcher->list()->count(), 3);
    QTest::keyClick(switcher->searchField(), Qt::Key_Down);
    QCOMPARE(switcher->list()->currentItem()->text(), QStringLiteral("📄  beta"));

    QTest::keyClick(switcher->searchField(), Qt::Key_Return);
    QCOMPARE(picked.size(), 1);
    QCOMPARE(picked.first().at(0).toString(), b.localID);
    QTRY_VERIFY(alive.isNull());
}

void TestQuickSwitcher::escapeClosesWithoutPicking()
{
    setPages({page("alpha", 1)});
    QuickSwitcher *switcher = openSwitcher();
    QPointer<QuickSwitcher> alive(switcher);
    QSignalSpy picked(switcher, &QuickSwitcher::picked);
    QTest::keyClick(switcher->searchField(), Qt::Key_Escape);
    QTRY_VERIFY(alive.isNull());
    QCOMPARE(picked.size(), 0);
}

void TestQuickSwitcher::returnWithoutResultsStaysOpen()
{
    QuickSwitcher *switcher = openSwitcher();
    QSignalSpy picked(switcher, &QuickSwitcher::picked);
    QVERIFY(switcher->emptyLabel()->isVisible());
    QCOMPARE(switcher->emptyLabel()->text(), QStringLiteral("No pages yet."));
    QTest::keyClicks(switcher->searchField(), QStringLiteral("x"));
    QCOMPARE(switcher->emptyLabel()->text(), QStringLiteral("No pages match “x”."));
    QTest::keyClick(switcher->searchField(), Qt::Key_Return);
    QTest::keyClick(switcher->searchField(), Qt::Key_Down);
    QCOMPARE(picked.size(), 0);
    QVERIFY(switcher->isVisible());

    // The list follows the store while open.
    setPages({page("x marks", 1)});
    QCOMPARE(switcher->list()->count(), 1);
    QVERIFY(!switcher->emptyLabel()->isVisible());
}

void TestQuickSwitcher::clickPicksThatRow()
{
    const FNPage c = page("", 3);
    setPages({page("a", 1), page("b", 2), c});
    QuickSwitcher *switcher = openSwitcher();
    QSignalSpy picked(switcher, &QuickSwitcher::picked);
    QListWidget *list = switcher->list();
    QTRY_VERIFY(list->isVisible());
    QCOMPARE(list->item(2)->text(), QStringLiteral("📄  Untitled"));
    const QRect row = list->visualItemRect(list->item(2));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, row.center());
    QCOMPARE(picked.size(), 1);
    QCOMPARE(picked.first().at(0).toString(), c.localID);
}

void TestQuickSwitcher::clickAfterFilteringPicksTheShownPage_data()
{
    QTest::addColumn<QString>("query");
    QTest::addColumn<int>("row");
    QTest::addColumn<QString>("title");
    QTest::newRow("one left") << QStringLiteral("gam") << 0 << QStringLiteral("gamma");
    QTest::newRow("second of two") << QStringLiteral("a") << 1 << QStringLiteral("alpha");
    QTest::newRow("filter cleared again") << QString() << 2 << QStringLiteral("gamma");
}

// The rows are rebuilt on each keystroke, and again when the window opens the picked page: a click
// picks, and the window opens, the page the row showed.
void TestQuickSwitcher::clickAfterFilteringPicksTheShownPage()
{
    QFETCH(QString, query);
    QFETCH(int, row);
    QFETCH(QString, title);
    setPages({page("beta", 1), page("alpha", 2), page("gamma", 3)});
    QuickSwitcher *switcher = openFromMainWindow();
    QVERIFY(switcher);
    QSignalSpy picked(switcher, &QuickSwitcher::picked);
    QTest::keyClicks(switcher->searchField(), QStringLiteral("zz"));
    switcher->searchField()->clear();
    QTest::keyClicks(switcher->searchField(), query);
    QListWidget *list = switcher->list();
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(list->item(row)).center());
    QCOMPARE(picked.size(), 1);
    const QString id = picked.first().at(0).toString();
    const auto &pages = m_app->store.state().pages;
    const auto it =
        std::find_if(pages.begin(), pages.end(), [&](const FNPage &p) { return p.localID == id; });
    QVERIFY(it != pages.end());
    QCOMPARE(it->title, title);
    QCOMPARE(m_main->selectedPageLocalID(), std::optional(id));
}

QuickSwitcher *TestQuickSwitcher::openFromMainWindow()
{
    m_main = std::make_unique<MainView>(m_app->context());
    m_main->resize(1000, 700);
    m_main->show();
    if (!QTest::qWaitForWindowExposed(m_main.get()))
        return nullptr;
    m_main->showQuickSwitcher();
    QuickSwitcher *switcher = m_main->quickSwitcher();
    if (switcher && !QTest::qWaitForWindowExposed(switcher))
        return nullptr;
    return switcher;
}

namespace {

// The first column, from the left, in which the row shows anything but its own background.
int firstInk(const QImage &image, const QRect &row)
{
    const QRgb background = image.pixel(row.right() - 1, row.center().y());
    const auto far = [&](QRgb c) {
        return qAbs(qRed(c) - qRed(background)) + qAbs(qGreen(c) - qGreen(background)) +
                   qAbs(qBlue(c) - qBlue(background)) >
               90;
    };
    for (int x = row.left(); x < row.right(); ++x) {
        for (int y = row.top() + 1; y < row.bottom(); ++y) {
            if (far(image.pixel(x, y)))
                return x;
        }
    }
    return -1;
}

} // namespace

void TestQuickSwitcher::highlightKeepsTheTextInPlace_data()
{
    QTest::addColumn<int>("highlighted");
    QTest::newRow("first row highlighted") << 0;
    QTest::newRow("middle row highlighted") << 1;
    QTest::newRow("last row highlighted") << 2;
}

// Rows with the same icon and title start: wherever the highlight is, the text begins at one x.
void TestQuickSwitcher::highlightKeepsTheTextInPlace()
{
    QFETCH(int, highlighted);
    setPages({page("Wander", 1), page("Wonder", 2), page("Winter", 3)});
    QuickSwitcher *switcher = openFromMainWindow();
    QVERIFY(switcher);
    for (int i = 0; i < highlighted; ++i)
        QTest::keyClick(switcher->searchField(), Qt::Key_Down);
    QListWidget *list = switcher->list();
    QCOMPARE(list->currentRow(), highlighted);
    const QImage shot = list->viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32);
    QList<int> starts;
    QList<QRgb> backgrounds;
    for (int row = 0; row < list->count(); ++row) {
        const QRect rect = list->visualItemRect(list->item(row));
        starts << firstInk(shot, rect);
        backgrounds << shot.pixel(rect.right() - 1, rect.center().y());
    }
    QVERIFY(starts[0] > 0);
    QCOMPARE(starts, QList<int>(list->count(), starts[0]));
    // The highlight is drawn, and only behind its row.
    for (int row = 0; row < list->count(); ++row)
        QCOMPARE(backgrounds[row] == backgrounds[highlighted], row == highlighted);
}

void TestQuickSwitcher::heightFollowsTheRows_data()
{
    QTest::addColumn<int>("pages");
    QTest::newRow("one") << 1;
    QTest::newRow("eight") << 8;
    QTest::newRow("fifty, capped") << 50;
}

void TestQuickSwitcher::heightFollowsTheRows()
{
    QFETCH(int, pages);
    std::vector<FNPage> list;
    for (int i = 0; i < pages; ++i)
        list.push_back(page(QStringLiteral("Page %1").arg(i), i + 1));
    setPages(list);
    QuickSwitcher *switcher = openFromMainWindow();
    QVERIFY(switcher);
    QListWidget *rows = switcher->list();
    const int rowHeight = rows->visualItemRect(rows->item(0)).height();
    QVERIFY(rowHeight > 0);
    QCOMPARE(rows->viewport()->height(), qMin(QuickSwitcher::kMaxListHeight, pages * rowHeight));
    // The panel ends under the list: no empty band below the last row.
    const int below = switcher->height() - rows->mapTo(switcher, QPoint(0, rows->height())).y();
    QVERIFY2(below <= 2, qPrintable(QString::number(below)));

    // Typing down to one row shrinks the panel.
    const int tall = switcher->height();
    QTest::keyClicks(switcher->searchField(), QStringLiteral("Page 0"));
    QCOMPARE(rows->count(), 1);
    QTRY_COMPARE(rows->viewport()->height(), rowHeight);
    if (pages > 1)
        QTRY_VERIFY(switcher->height() < tall);
}

void TestQuickSwitcher::staysOverTheWindowWhileFiltering()
{
    std::vector<FNPage> list;
    for (int i = 0; i < 8; ++i)
        list.push_back(
            page(i % 2 ? QStringLiteral("Moon %1").arg(i) : QStringLiteral("Sun %1").arg(i), i + 1));
    setPages(list);
    QuickSwitcher *switcher = openFromMainWindow();
    QVERIFY(switcher);
    const auto centredOverTheWindow = [&] {
        const QRect area = m_main->geometry();
        return switcher->x() == area.x() + (area.width() - switcher->width()) / 2 &&
               switcher->y() == area.y() + area.height() / 6;
    };
    QVERIFY(centredOverTheWindow());
    // A window manager may place a window anew when it is asked for a new size alone (openbox put
    // it in the screen's corner): each change of the list's size puts it back over the window.
    for (const QString &typed : {QStringLiteral("m"), QStringLiteral("oon 1"), QStringLiteral("zz")}) {
        switcher->move(0, 0);
        const int before = switcher->height();
        QTest::keyClicks(switcher->searchField(), typed);
        QTRY_VERIFY(switcher->height() != before);
        QTRY_VERIFY(centredOverTheWindow());
    }
}

QTEST_MAIN(TestQuickSwitcher)
#include "tst_quick_switcher.moc"
