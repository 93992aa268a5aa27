#include "editor/block_drop_target.h"
#include "editor/block_row.h"
#include "editor/draggable_block_modifier.h"
#include "editor/rich_text_editor.h"
#include "page_view_fixture.h"

#include <QDropEvent>
#include <QMimeData>
#include <QPointer>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>

#include <memory>

namespace {

// Generous: the scrolling runs on a timer, slow on a loaded machine.
constexpr int kScrollWait = 30000;

} // namespace

// A block dragged over its page, as the window delivers the drag to whatever widget is under the
// pointer: the line shows where it will land, the view scrolls near its edges, and the drop moves it.
class TestBlockDrag : public QObject, private PageViewFixture
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void lineShowsWhereTheBlockLands_data();
    void lineShowsWhereTheBlockLands();
    void edgesScrollTheView_data();
    void edgesScrollTheView();
    void dropAfterScrollingLandsOnce();
    void otherDragsAreLeftToTheRows();

private:
    // A page of blocks "0", "1", ..., opened in a window; its blocks on the service when `synced`.
    bool openPage(int count, bool synced = false);
    QWidget *viewport() const { return m_view->scrollArea()->viewport(); }
    QScrollBar *bar() const { return m_view->scrollArea()->verticalScrollBar(); }
    QWidget *line() const { return m_view->dropTarget()->line(); }
    // A drag of the block starts; it is over the page once it moves there.
    void startDrag(int index);
    // The view's point in the upper or lower quarter of the block's row.
    QPoint pointOnRow(int index, bool lower) const;
    // The first row whose top is in view, and where it is in the view.
    std::pair<QPointer<QWidget>, int> rowAtTop() const;
    // The count of rows above the drop line.
    int rowsAboveLine() const;
    QStringList order() const;
    QStringList names(const QList<int> &indexes) const;

    std::unique_ptr<PageView> m_view;
    QStringList m_blocks;
    std::unique_ptr<QMimeData> m_payload;
    std::unique_ptr<EditorSteps::PageDrag> m_drag;
};

void TestBlockDrag::initTestCase()
{
    QVERIFY(startService());
}

void TestBlockDrag::init()
{
    openDevice();
}

void TestBlockDrag::cleanup()
{
    m_drag.reset();
    m_payload.reset();
    m_view.reset();
    m_blocks.clear();
    closeDevice();
}

bool TestBlockDrag::openPage(int count, bool synced)
{
    const FNPage page = synced ? syncedPage("Drag") : m_device->addPage(m_account.workspaceId, "Drag");
    for (int i = 0; i < count; ++i)
        m_blocks << m_device->addBlock(page.localID, QString::number(i), i).localID;
    if (synced && !m_device->sync())
        return false;
    m_device->setToken(std::nullopt); // what a drop queues stays to be counted
    m_view = openView(page.localID);
    if (!m_view)
        return false;
    QApplication::setActiveWindow(m_view.get());
    return QTest::qWaitForWindowActive(m_view.get()) && QTest::qWaitFor([&] { return m_view->isLaidOut(); });
}

void TestBlockDrag::startDrag(int index)
{
    auto *modifier = m_view->rowFrame(m_blocks[index])->findChild<DraggableBlockModifier *>();
    QVERIFY(modifier);
    m_payload.reset(modifier->makeMimeData());
    m_drag = std::make_unique<EditorSteps::PageDrag>(*m_view, m_payload.get());
}

QPoint TestBlockDrag::pointOnRow(int index, bool lower) const
{
    QWidget *frame = m_view->rowFrame(m_blocks[index]);
    const QRect rect = frame->rect();
    // Over the row's text, where a user points.
    const QPoint inFrame(rect.width() / 2, lower ? rect.height() * 3 / 4 : rect.height() / 4);
    return frame->mapTo(viewport(), inFrame);
}

std::pair<QPointer<QWidget>, int> TestBlockDrag::rowAtTop() const
{
    for (const QString &localID : m_blocks) {
        QWidget *frame = m_view->topLevelList()->frame(localID);
        const int y = frame ? frame->mapTo(viewport(), QPoint()).y() : -1;
        if (y >= 0)
            return {frame, y};
    }
    return {nullptr, 0};
}

int TestBlockDrag::rowsAboveLine() const
{
    const int lineY = line()->geometry().center().y();
    int above = 0;
    for (const PageRowList::Place &place : m_view->topLevelList()->places()) {
        if (place.geometry.center().y() < lineY)
            ++above;
    }
    return above;
}

QStringList TestBlockDrag::order() const
{
    QStringList out;
    for (const FNBlock &block : m_view->model().blocks().topLevelBlocks())
        out << TestDevice::textOf(block);
    return out;
}

QStringList TestBlockDrag::names(const QList<int> &indexes) const
{
    QStringList out;
    for (int index : indexes)
        out << QString::number(index);
    return out;
}

void TestBlockDrag::lineShowsWhereTheBlockLands_data()
{
    QTest::addColumn<int>("dragged");
    QTest::addColumn<int>("over");
    QTest::addColumn<bool>("lower");  // over the row's lower half
    QTest::addColumn<int>("lineGap"); // rows above the line; -1 for no line
    QTest::addColumn<QList<int>>("after");
    QTest::newRow("down, above a row's middle") << 0 << 2 << false << 2 << QList<int>{1, 0, 2, 3, 4};
    QTest::newRow("down, below a row's middle") << 0 << 2 << true << 3 << QList<int>{1, 2, 0, 3, 4};
    QTest::newRow("up to the first row's top") << 4 << 0 << false << 0 << QList<int>{4, 0, 1, 2, 3};
    QTest::newRow("up, below a row's middle") << 4 << 1 << true << 2 << QList<int>{0, 1, 4, 2, 3};
    QTest::newRow("down past the last row") << 0 << 4 << true << 5 << QList<int>{1, 2, 3, 4, 0};
    QTest::newRow("over itself, upper half") << 2 << 2 << false << -1 << QList<int>{0, 1, 2, 3, 4};
    QTest::newRow("over itself, lower half") << 2 << 2 << true << -1 << QList<int>{0, 1, 2, 3, 4};
    QTest::newRow("just above itself") << 2 << 1 << true << -1 << QList<int>{0, 1, 2, 3, 4};
    QTest::newRow("just below itself") << 2 << 3 << false << -1 << QList<int>{0, 1, 2, 3, 4};
}

void TestBlockDrag::lineShowsWhereTheBlockLands()
{
    QFETCH(int, dragged);
    QFETCH(int, over);
    QFETCH(bool, lower);
    QFETCH(int, lineGap);
    QFETCH(QList<int>, after);
    QVERIFY(openPage(5));
    startDrag(dragged);

    // The drag comes in over the first row's text and moves on to the row it is meant for.
    QVERIFY(m_drag->moveTo(pointOnRow(0, false)));
    const QPoint at = pointOnRow(over, lower);
    QVERIFY(m_drag->moveTo(at));
    QCOMPARE(line()->isVisible(), lineGap >= 0);
    if (lineGap >= 0)
        QCOMPARE(rowsAboveLine(), lineGap);
    QVERIFY(!m_view->dropTarget()->isScrolling());

    QVERIFY(m_drag->drop(at));
    QVERIFY(!line()->isVisible());
    QCOMPARE(order(), names(after));
    QCOMPARE(m_view->model().isBlockFlushPending(), lineGap >= 0);
    // The text the drag passed over is as it was.
    QCOMPARE(m_view->row(m_blocks[over])->richEditor()->toRawText(), QString::number(over));
}

void TestBlockDrag::edgesScrollTheView_data()
{
    QTest::addColumn<bool>("fromBottom"); // the view starts scrolled to the page's end
    QTest::addColumn<int>("pointerY");    // in the view, from its top; negative from its bottom
    QTest::addColumn<int>("direction");   // of the scrolling: -1 up, 0 none, +1 down
    QTest::newRow("near the bottom edge") << false << -6 << 1;
    QTest::newRow("at the bottom edge's inner rim") << false << -(BlockDropTarget::kEdgeBand - 2) << 1;
    QTest::newRow("near the top edge") << true << 6 << -1;
    QTest::newRow("in the middle") << false << 300 << 0;
    QTest::newRow("just inside the top band, already at the top") << false << 10 << 0;
}

void TestBlockDrag::edgesScrollTheView()
{
    QFETCH(bool, fromBottom);
    QFETCH(int, pointerY);
    QFETCH(int, direction);
    QVERIFY(openPage(80));
    startDrag(0);
    if (fromBottom) {
        // The rows made at the end change its length: scrolled there again once they are.
        bar()->setValue(bar()->maximum());
        QTRY_VERIFY(m_view->topLevelList()->row(m_blocks.last()));
        QTRY_VERIFY(m_view->isLaidOut());
        bar()->setValue(bar()->maximum());
    }
    const int start = bar()->value();
    const int y = pointerY >= 0 ? pointerY : viewport()->height() + pointerY;
    const QPoint at(viewport()->width() / 2, y);

    QVERIFY(m_drag->moveTo(at));
    if (direction == 0) {
        QVERIFY(!m_view->dropTarget()->isScrolling());
        const auto [row, place] = rowAtTop();
        QVERIFY(row);
        QVERIFY(letTimePass(BlockDropTarget::kScrollTick * 5));
        QCOMPARE(bar()->value(), start);
        QCOMPARE(row->mapTo(viewport(), QPoint()).y(), place);
        return;
    }
    // It goes on while the pointer rests there, and stops once the pointer moves away.
    QTRY_VERIFY_WITH_TIMEOUT(std::abs(bar()->value() - start) > viewport()->height() / 2, kScrollWait);
    QCOMPARE(bar()->value() > start, direction > 0);
    QVERIFY(m_drag->moveTo(QPoint(at.x(), viewport()->height() / 2)));
    QVERIFY(!m_view->dropTarget()->isScrolling());
    // What the view shows stays put, to the pixel the page keeps its top row in place by while the
    // rows just made settle: no more scrolling steps.
    QTRY_VERIFY(m_view->isLaidOut());
    const auto [row, place] = rowAtTop();
    QVERIFY(row);
    QVERIFY(letTimePass(BlockDropTarget::kScrollTick * 5));
    QVERIFY(row);
    QVERIFY(std::abs(row->mapTo(viewport(), QPoint()).y() - place) <= 1);
    QVERIFY(!m_view->dropTarget()->isScrolling());

    // Right at the edge it runs on to the page's end.
    const QPoint edge(at.x(), direction > 0 ? viewport()->height() - 2 : 1);
    QVERIFY(m_drag->moveTo(edge));
    QTRY_COMPARE_WITH_TIMEOUT(bar()->value(), direction > 0 ? bar()->maximum() : 0, kScrollWait);

    // Leaving the view stops it too.
    QVERIFY(m_view->dropTarget()->isScrolling());
    m_drag->leave();
    QVERIFY(!m_view->dropTarget()->isScrolling());
    QVERIFY(!line()->isVisible());
}

void TestBlockDrag::dropAfterScrollingLandsOnce()
{
    const int count = 60;
    QVERIFY(openPage(count, true));
    QVERIFY(outboxOf("block", "upsert").empty());
    const QString last = m_blocks.last();
    QVERIFY(!m_view->topLevelList()->row(last)); // far out of view: not even made yet
    startDrag(1);

    // Held at the bottom edge until the page's last row has scrolled in.
    const QPoint edge(viewport()->width() / 2, viewport()->height() - 6);
    QVERIFY(m_drag->moveTo(edge));
    QTRY_VERIFY_WITH_TIMEOUT(
        m_view->topLevelList()->row(last) &&
            m_view->topLevelList()->frame(last)->visibleRegion().boundingRect().height() ==
                m_view->topLevelList()->frame(last)->height(),
        kScrollWait);

    // Then onto the last row's lower half: the line is below it, and the drop puts the block there.
    const QPoint at = pointOnRow(count - 1, true);
    QVERIFY(m_drag->moveTo(at));
    QVERIFY(line()->isVisible());
    QCOMPARE(rowsAboveLine(), count);
    QVERIFY(m_drag->drop(at));
    QVERIFY(!m_view->dropTarget()->isScrolling());

    QStringList expected;
    for (int i = 0; i < count; ++i) {
        if (i != 1)
            expected << QString::number(i);
    }
    expected << QStringLiteral("1");
    QCOMPARE(order(), expected);
    QVERIFY(m_device->block(m_blocks[1])->position > m_device->block(m_blocks[count - 1])->position);
    QTRY_VERIFY(!m_view->model().isBlockFlushPending());
    QCOMPARE(outboxOf("block", "upsert").size(), size_t(1));
}

void TestBlockDrag::otherDragsAreLeftToTheRows()
{
    QVERIFY(openPage(3));
    // Plain text from elsewhere is the text views' to take, with no line and no scrolling.
    QMimeData text;
    text.setText(QStringLiteral("pasted"));
    EditorSteps::PageDrag fromElsewhere(*m_view, &text);
    QVERIFY(fromElsewhere.moveTo(pointOnRow(1, true)));
    QVERIFY(!line()->isVisible());
    fromElsewhere.leave();

    // A block of another page is refused.
    QMimeData stranger;
    stranger.setData(QString::fromLatin1(DraggableBlockModifier::kBlockDragFormat), "not-on-this-page");
    stranger.setText(QStringLiteral("not-on-this-page"));
    EditorSteps::PageDrag fromAnotherPage(*m_view, &stranger);
    QVERIFY(!fromAnotherPage.moveTo(pointOnRow(1, true)));
    QVERIFY(!fromAnotherPage.drop(pointOnRow(1, true)));
    QVERIFY(!line()->isVisible());
    QCOMPARE(order(), names({0, 1, 2}));
}

QTEST_MAIN(TestBlockDrag)
#include "tst_block_drag.moc"
