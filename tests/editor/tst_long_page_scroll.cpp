#include "editor/block_row.h"
#include "editor/format_toolbar.h"
#include "editor/page_view.h"
#include "editor/rich_text_editor.h"
#include "long_page_fixture.h"
#include "support/editor_steps.h"
#include "support/test_device.h"

#include <QApplication>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>
#include <QWheelEvent>

#include <memory>
#include <random>

// A long page of rows whose heights differ from what their places held, scrolled the way a user
// scrolls: every row is drawn where it is laid out, and a click and the keys reach the row under
// the pointer.
class TestLongPageScroll : public LongPageFixture
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { QVERIFY(startService("scroll@example.com", "Scroll")); }
    void init() { newDevice(); }
    void cleanup() { dropDevice(); }

    void rowsAreDrawnWhereTheyAreLaidOut_data();
    void rowsAreDrawnWhereTheyAreLaidOut();
    void aPressOnNoRowLeavesNoKeysOutOfSight_data();
    void aPressOnNoRowLeavesNoKeysOutOfSight();
    void formatToolbarStaysInView();

private:
    std::unique_ptr<PageView> openMixedPage(int count, unsigned seed, QSize size);
    void dragScrollBar(int toY);
    void wheel(int notches);
    void settle();
    QString rowsOutOfPlace() const;
    QString rowsDrawnElsewhere() const;
    QString storedText(const QString &localID) const;
    // The first block but `except` whose stored text is no longer what it was made with; empty when none.
    QString changedBlock(int except) const;
};

// Headings, lists, quotes and code of a few words to a long paragraph, as people write them.
std::unique_ptr<PageView> TestLongPageScroll::openMixedPage(int count, unsigned seed, QSize size)
{
    static const char *const kWords[] = {"the",  "meeting", "notes", "project", "draft", "review", "budget",
                                         "team", "weekly",  "plan",  "idea",    "quarter", "roadmap"};
    static const char *const kKinds[] = {"text",   "text",   "text",  "h1",      "h2",   "h3",
                                         "bullet", "number", "todo",  "quote",   "code", "callout"};
    std::mt19937 random(seed);
    const auto pick = [&](int n) { return std::uniform_int_distribution<int>(0, n - 1)(random); };
    const FNPage page = m_device->addPage(m_account.workspaceId, "Long");
    m_device->store().change([&](StoreState &state) {
        for (int i = 0; i < count; ++i) {
            QString text = QStringLiteral("line %1").arg(i);
            for (int word = 4 + pick(60); word > 0; --word)
                text += QLatin1Char(' ') + QLatin1String(kWords[pick(int(std::size(kWords)))]);
            FNBlock block;
            block.pageLocalID = page.localID;
            block.type = QLatin1String(kKinds[pick(int(std::size(kKinds)))]);
            block.contentJSON = QStringLiteral(R"({"text":"%1"})").arg(text);
            block.position = i;
            state.blocks.push_back(block);
            m_blocks.push_back(block);
        }
    });
    return openPage(page, size);
}

// Presses the bar's handle and drags it to `toY` of the bar in 30 moves a frame apart, through the
// window as the pointer would.
void TestLongPageScroll::dragScrollBar(int toY)
{
    QScrollBar *bar = m_view->scrollArea()->verticalScrollBar();
    const QRect handle = EditorSteps::scrollBarHandle(bar);
    QWindow *window = m_view->windowHandle();
    const QPoint from = bar->mapTo(m_view, handle.center());
    const QPoint to = bar->mapTo(m_view, QPoint(handle.center().x(), toY));
    QTest::mousePress(window, Qt::LeftButton, {}, from);
    constexpr int kMoves = 30;
    for (int move = 1; move <= kMoves; ++move) {
        QTest::mouseMove(window, from + (to - from) * move / kMoves);
        QTest::qWait(16);
    }
    QTest::mouseRelease(window, Qt::LeftButton, {}, to);
}

void TestLongPageScroll::wheel(int notches)
{
    QWidget *viewport = m_view->scrollArea()->viewport();
    const QPointF at = QPointF(viewport->rect().center());
    for (int notch = 0; notch < notches; ++notch) {
        QWheelEvent event(at, viewport->mapToGlobal(at), QPoint(), QPoint(0, -120), Qt::NoButton, Qt::NoModifier,
                          Qt::NoScrollPhase, false);
        QApplication::sendEvent(viewport, &event);
        QTest::qWait(16);
    }
}

void TestLongPageScroll::settle()
{
    QVERIFY(QTest::qWaitFor([&] { return m_view->isLaidOut(); }));
    takeLayoutAndPaints();
}

// Rows laid out one after the other: each made row right below the made row before it, and the
// list ending with its last row.
QString TestLongPageScroll::rowsOutOfPlace() const
{
    const PageRowList *list = m_view->topLevelList();
    const std::vector<PageRowList::Place> places = list->places();
    QStringList wrong;
    for (size_t i = 1; i < places.size(); ++i) {
        const QWidget *above = list->frame(places[i - 1].localID);
        const QWidget *frame = list->frame(places[i].localID);
        if (above && frame && frame->y() != above->geometry().bottom() + 1 + list->spacing())
            wrong << QStringLiteral("row %1 at %2, the row above ends at %3")
                         .arg(i)
                         .arg(frame->y())
                         .arg(above->geometry().bottom());
    }
    if (const QWidget *last = list->frame(places.back().localID); last && last->geometry().bottom() + 1 != list->height())
        wrong << QStringLiteral("the last row ends at %1 in a list %2 high")
                     .arg(last->geometry().bottom() + 1)
                     .arg(list->height());
    return wrong.join(QStringLiteral("; "));
}

// What the window shows where each row in view is laid out is that row, drawn as it is now.
QString TestLongPageScroll::rowsDrawnElsewhere() const
{
    const QImage shown = m_view->screen()->grabWindow(m_view->winId()).toImage().convertToFormat(QImage::Format_RGB32);
    const QWidget *viewport = m_view->scrollArea()->viewport();
    const QRect seen(viewport->mapTo(m_view, QPoint()), viewport->size());
    QStringList wrong;
    int compared = 0;
    for (BlockRow *row : m_view->topLevelList()->rows()) {
        QWidget *frame = row->parentWidget();
        const QRect place(frame->mapTo(m_view, QPoint()), frame->size());
        if (!seen.contains(place) || !row->textView() || row->textView()->hasFocus())
            continue;
        QImage drawn = frame->grab().toImage().convertToFormat(QImage::Format_RGB32);
        QImage there = shown.copy(place);
        // The focused row's format toolbar and its shadow float over the page, not in any row.
        if (const QWidget *toolbar = m_view->formatToolbar(); toolbar && toolbar->isVisible()) {
            constexpr int kShadow = 16;
            const QRect over = QRect(toolbar->mapTo(m_view, QPoint()), toolbar->size())
                                   .adjusted(-kShadow, -kShadow, kShadow, kShadow)
                                   .translated(-place.topLeft());
            QPainter(&drawn).fillRect(over, Qt::black);
            QPainter(&there).fillRect(over, Qt::black);
        }
        ++compared;
        if (drawn.size() != there.size() || drawn != there)
            wrong << QStringLiteral("\"%1\"").arg(row->textView()->toRawText().left(12));
    }
    if (compared < 3)
        return QStringLiteral("only %1 rows in view").arg(compared);
    return wrong.isEmpty() ? QString() : QStringLiteral("drawn elsewhere: ") + wrong.join(QStringLiteral(", "));
}

QString TestLongPageScroll::storedText(const QString &localID) const
{
    const FNBlock *block = m_device->block(localID);
    return block ? TestDevice::textOf(*block) : QString();
}

QString TestLongPageScroll::changedBlock(int except) const
{
    for (int i = 0; i < int(m_blocks.size()); ++i) {
        if (i != except && storedText(m_blocks[size_t(i)].localID) != TestDevice::textOf(m_blocks[size_t(i)]))
            return QStringLiteral("block %1 reads \"%2\"").arg(i).arg(storedText(m_blocks[size_t(i)].localID));
    }
    return QString();
}

void TestLongPageScroll::rowsAreDrawnWhereTheyAreLaidOut_data()
{
    QTest::addColumn<unsigned>("seed");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<bool>("typeFirst"); // into a row at the top before scrolling away from it
    QTest::addColumn<bool>("byWheel");   // else by the bar's handle
    QTest::newRow("the bar dragged to the end") << 4u << QSize(810, 640) << false << false;
    QTest::newRow("the bar dragged to the end after typing at the top")
        << 11u << QSize(810, 640) << true << false;
    QTest::newRow("the bar dragged to the end of a wide page") << 5u << QSize(1100, 720) << true << false;
    QTest::newRow("the wheel turned down the page") << 4u << QSize(810, 640) << false << true;
}

void TestLongPageScroll::rowsAreDrawnWhereTheyAreLaidOut()
{
    QFETCH(unsigned, seed);
    QFETCH(QSize, size);
    QFETCH(bool, typeFirst);
    QFETCH(bool, byWheel);
    auto view = openMixedPage(2000, seed, size);
    QVERIFY(view);
    QScrollBar *bar = view->scrollArea()->verticalScrollBar();
    if (typeFirst) {
        BlockRow *first = madeRow(2);
        QVERIFY(first && first->focusEditor(BlockRow::Caret::end));
        QTest::keyClicks(first->richEditor(), QStringLiteral("abcdefghij").repeated(5));
    }

    if (byWheel) {
        wheel(150);
    } else {
        dragScrollBar(bar->height() - 1);
        // The handle dragged to the bottom keeps the page's end in view while the rows made there
        // take their heights.
        settle();
        QCOMPARE(bar->value(), bar->maximum());
    }
    settle();
    QVERIFY2(rowsOutOfPlace().isEmpty(), qPrintable(rowsOutOfPlace()));
    QVERIFY2(rowsDrawnElsewhere().isEmpty(), qPrintable(rowsDrawnElsewhere()));

    // A click on the last line of each of the last rows in view, and keys typed: each reaches the row
    // clicked, and only that one.
    QWidget *viewport = view->scrollArea()->viewport();
    std::vector<BlockRow *> inView;
    for (BlockRow *row : view->topLevelList()->rows()) {
        const QRect place(row->mapTo(viewport, QPoint()), row->size());
        if (viewport->rect().contains(place) && row->textView())
            inView.push_back(row);
    }
    QVERIFY(inView.size() >= 3);
    for (size_t at = inView.size() - 3; at < inView.size(); ++at) {
        BlockRow *row = inView[at];
        const QString localID = row->model().localID();
        const QString before = storedText(localID);
        QWidget *text = row->textView()->viewport();
        const QPoint lastLine(6, text->height() - 6);
        QTest::mouseClick(view->windowHandle(), Qt::LeftButton, {}, text->mapTo(view.get(), lastLine));
        const QString marker = QStringLiteral("zq%1").arg(at);
        for (const QChar key : marker)
            QTest::keyClick(view->windowHandle(), key.toLatin1());
        QTRY_VERIFY2(storedText(localID).contains(marker),
                     qPrintable(QStringLiteral("\"%1\" typed into \"%2\" after a click on it")
                                    .arg(marker, before.left(12))));
        QCOMPARE(storedText(localID).size(), before.size() + marker.size());
        settle();
    }
    QVERIFY2(rowsOutOfPlace().isEmpty(), qPrintable(rowsOutOfPlace()));
    QVERIFY2(rowsDrawnElsewhere().isEmpty(), qPrintable(rowsDrawnElsewhere()));
}

void TestLongPageScroll::aPressOnNoRowLeavesNoKeysOutOfSight_data()
{
    QTest::addColumn<QString>("where");
    QTest::addColumn<bool>("toTheEnd"); // else the keys go nowhere
    QTest::newRow("under \"Add block\"") << "under" << true;
    QTest::newRow("beside \"Add block\"") << "beside" << true;
    QTest::newRow("in the margin beside a row") << "margin" << false;
}

void TestLongPageScroll::aPressOnNoRowLeavesNoKeysOutOfSight()
{
    QFETCH(QString, where);
    QFETCH(bool, toTheEnd);
    auto view = openMixedPage(2000, 7u, QSize(810, 640));
    QVERIFY(view);
    // Opened with the keys at the end of the first block, as the window opens a page.
    view->model().enterPage();
    QTRY_VERIFY(madeRow(0) && madeRow(0)->richEditor()->hasFocus());
    const QString firstShown = madeRow(0)->richEditor()->toRawText();

    // Scrolled to the end, which moves on as the rows made there take their heights.
    QScrollBar *bar = view->scrollArea()->verticalScrollBar();
    for (int turn = 0; turn < 20 && (turn == 0 || bar->value() < bar->maximum()); ++turn) {
        bar->setValue(bar->maximum());
        settle();
    }
    QCOMPARE(bar->value(), bar->maximum());

    QWidget *viewport = view->scrollArea()->viewport();
    QPushButton *add = view->addBlockButton();
    const QPoint at = where == QLatin1String("under")    ? add->mapTo(viewport, QPoint(add->width() / 2, add->height() + 24))
                      : where == QLatin1String("beside") ? add->mapTo(viewport, QPoint(add->width() + 60, add->height() / 2))
                                                         : QPoint(4, viewport->height() / 3);
    QVERIFY(viewport->rect().contains(at));
    QTest::mouseClick(view->windowHandle(), Qt::LeftButton, {}, viewport->mapTo(view.get(), at));
    for (const QChar key : QStringLiteral("zq"))
        QTest::keyClick(view->windowHandle(), key.toLatin1());

    // Whatever holds the keys now is in sight.
    if (QWidget *keys = QApplication::focusWidget(); keys && view->scrollArea()->widget()->isAncestorOf(keys))
        QVERIFY(QRect(keys->mapTo(viewport, QPoint()), keys->size()).intersects(viewport->rect()));
    QCOMPARE(madeRow(0)->richEditor()->toRawText(), firstShown);
    const int last = int(m_blocks.size()) - 1;
    if (toTheEnd)
        QTRY_COMPARE(storedText(m_blocks.back().localID), TestDevice::textOf(m_blocks.back()) + QStringLiteral("zq"));
    QCOMPARE(changedBlock(last), QString());
    if (!toTheEnd)
        QCOMPARE(storedText(m_blocks.back().localID), TestDevice::textOf(m_blocks.back()));
}

void TestLongPageScroll::formatToolbarStaysInView()
{
    // Rows whose first line leaves no room beside the text, ending at all lengths: the row above
    // often reaches the toolbar's place above the row.
    const FNPage page = m_device->addPage(m_account.workspaceId, "Toolbar");
    m_device->store().change([&](StoreState &state) {
        // Then a row taller than the view, and a short one after it.
        for (int i = 0; i < 26; ++i) {
            const int words = i == 24 ? 400 : i == 25 ? 0 : 8 + i * 7 % 23;
            FNBlock block;
            block.pageLocalID = page.localID;
            block.type = QStringLiteral("text");
            block.contentJSON = QStringLiteral(R"({"text":"line %1 %2"})")
                                    .arg(i)
                                    .arg(QStringLiteral("many words ").repeated(words).trimmed());
            block.position = i;
            state.blocks.push_back(block);
            m_blocks.push_back(block);
        }
    });
    auto view = openPage(page, QSize(760, 520));
    QVERIFY(view);
    QWidget *viewport = view->scrollArea()->viewport();
    QWidget *column = view->scrollArea()->widget();
    QScrollBar *bar = view->scrollArea()->verticalScrollBar();
    const QWidget *toolbar = view->formatToolbar();
    for (const int index : {3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 24}) {
        const QString &localID = m_blocks[size_t(index)].localID;
        QWidget *frame = view->rowFrame(localID);
        QVERIFY(frame);
        settle();
        const int top = frame->mapTo(column, QPoint(0, 0)).y();
        if (frame->height() > viewport->height()) {
            // The row fills the view, from its top edge: no room above it or below it in sight.
            bar->setValue(top);
        } else {
            // The row the last one in view, its bottom at the view's bottom edge.
            QVERIFY(index != 24);
            bar->setValue(top + frame->height() - viewport->height());
        }
        settle();
        RichTextEditor *editor = view->row(localID)->richEditor();
        const QPoint first = EditorSteps::pointAt(*editor, QStringLiteral("line %1").arg(index));
        QTest::mouseClick(editor->viewport(), Qt::LeftButton, Qt::NoModifier, first);
        QTRY_VERIFY(editor->hasFocus());
        const auto shownBar = [&] { return QRect(toolbar->mapTo(viewport, QPoint()), toolbar->size()); };
        QTRY_VERIFY2(toolbar->isVisible() && viewport->rect().contains(shownBar()),
                     qPrintable(QStringLiteral("row %1: toolbar at y %2 in a view %3 high")
                                    .arg(index)
                                    .arg(shownBar().top())
                                    .arg(viewport->height())));
    }
}

QTEST_MAIN(TestLongPageScroll)
#include "tst_long_page_scroll.moc"
