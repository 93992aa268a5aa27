#include "editor/block_row.h"
#include "editor/format_toolbar.h"
#include "editor/page_view.h"
#include "editor/rich_text_editor.h"
#include "editor_fixture.h"
#include "long_page_fixture.h"
#include "support/editor_steps.h"
#include "support/test_device.h"
#include "ui/painted_shadow.h"

#include <QApplication>
#include <QPaintEvent>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>

#include <memory>

// A page far longer than the window, in the real page view: rows are made where the user looks,
// and everything a user does on the page reaches the blocks that have none yet.
class TestLongPage : public LongPageFixture
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void rowsAreMadeAsTheyScrollIn();
    void placeholdersHoldAboutTheRoomOfTheirRows_data();
    void placeholdersHoldAboutTheRoomOfTheirRows();
    void rowsInViewStayPutWhileRowsAboveAreMade();
    void arrowKeysCrossIntoRowsNotMadeYet_data();
    void arrowKeysCrossIntoRowsNotMadeYet();
    void blockChangedOffScreenShowsWhenScrolledIn();
    void newBlockAtTheEndStaysInView_data();
    void newBlockAtTheEndStaysInView();
    void focusOfABlockOffScreenMakesAndShowsItsRow();
    void selectModeReachesRowsMadeLater();
    void oneFormatToolbarForThePage();
    void eachFlushCarriesWhatChangedAsItIsNow();
    void rowsOfOtherBlocksAreLeftAlone_data();
    void rowsOfOtherBlocksAreLeftAlone();
    void pageIsListedAgainOnlyWhenItsBlocksMove_data();
    void pageIsListedAgainOnlyWhenItsBlocksMove();
    void rowsAroundARowThatChangesHeightAreNotRepainted_data();
    void rowsAroundARowThatChangesHeightAreNotRepainted();
    void rowsWithinABandAreTheMadeRowsThatReachIntoIt();

private:
    QString storedText(int index) const;
    void scrollTo(int index);
};

void TestLongPage::initTestCase()
{
    QVERIFY(startService("long@example.com", "Long"));
}

void TestLongPage::init()
{
    newDevice();
}

void TestLongPage::cleanup()
{
    dropDevice();
}

QString TestLongPage::storedText(int index) const
{
    const FNBlock *block = m_device->block(m_blocks[size_t(index)].localID);
    return block ? TestDevice::textOf(*block) : QString();
}

void TestLongPage::scrollTo(int index)
{
    // Where the block's place is, as the placeholders lay it out.
    const int perRow = m_view->topLevelList()->height() / int(m_blocks.size());
    m_view->scrollArea()->verticalScrollBar()->setValue(m_view->topLevelList()->y() + perRow * index);
}

void TestLongPage::rowsAreMadeAsTheyScrollIn()
{
    auto view = openLongPage(400);
    QVERIFY(view);
    PageRowList *list = view->topLevelList();
    // The first screen and a margin, not the whole page.
    QVERIFY(madeRow(0) && madeRow(10));
    QVERIFY(!madeRow(399));
    QVERIFY(list->placeholderCount() > 300);
    QCOMPARE(list->rows().size() + size_t(list->placeholderCount()), size_t(400));
    // The placeholders hold about the rows' room: the page scrolls about as far as it will.
    const int perRow = list->rows().front()->parentWidget()->height() + PageView::kSpacing;
    QVERIFY2(qAbs(list->height() - 400 * perRow) < 400 * perRow / 2,
             qPrintable(QString::number(list->height())));

    // Scrolled to the end: the last rows are made and shown there, the middle still waits.
    // Rows made taller than their placeholders push the end further: the user drags on to it.
    QScrollBar *scroll = view->scrollArea()->verticalScrollBar();
    QTRY_VERIFY((scroll->setValue(scroll->maximum()), view->isLaidOut() && madeRow(399)));
    QTRY_VERIFY(madeRow(399) && madeRow(399)->isVisible());
    QTRY_COMPARE(madeRow(399)->richEditor()->toRawText(), QStringLiteral("line 399"));
    QVERIFY(!madeRow(200));
    const QRect viewport = view->scrollArea()->viewport()->rect();
    QTRY_VERIFY((scroll->setValue(scroll->maximum()),
                 viewport.intersects(QRect(madeRow(399)->mapTo(view->scrollArea()->viewport(), QPoint(0, 0)),
                                           madeRow(399)->size()))));
}

void TestLongPage::placeholdersHoldAboutTheRoomOfTheirRows_data()
{
    QTest::addColumn<QString>("filler");
    QTest::addColumn<int>("width");
    QTest::newRow("one line") << QString() << 700;
    QTest::newRow("a paragraph") << QStringLiteral(" and more words").repeated(12) << 700;
    QTest::newRow("a paragraph, wider") << QStringLiteral(" and more words").repeated(12) << 1200;
}

void TestLongPage::placeholdersHoldAboutTheRoomOfTheirRows()
{
    QFETCH(QString, filler);
    QFETCH(int, width);
    auto view = openLongPage(150, filler);
    QVERIFY(view);
    view->resize(width, 600);
    QTRY_VERIFY(view->isLaidOut());
    PageRowList *list = view->topLevelList();
    QVERIFY(list->placeholderCount() > 0);
    const int estimated = list->height();
    // Every row made: the page's real length.
    for (const FNBlock &block : m_blocks)
        QVERIFY(view->row(block.localID));
    QTRY_VERIFY(view->isLaidOut() && list->placeholderCount() == 0);
    QTest::qWait(50);
    const int real = list->height();
    // The scroll bar tells about where the user is, and a jump to a place lands near it.
    QVERIFY2(qAbs(estimated - real) <= real / 4,
             qPrintable(QStringLiteral("%1 vs %2").arg(estimated).arg(real)));
}

void TestLongPage::rowsInViewStayPutWhileRowsAboveAreMade()
{
    auto view = openLongPage(400);
    QVERIFY(view);
    scrollTo(300);
    QTRY_VERIFY(view->isLaidOut() && madeRow(300));
    QWidget *viewport = view->scrollArea()->viewport();
    QScrollBar *scroll = view->scrollArea()->verticalScrollBar();
    // Scrolled up a little at a time, as a wheel does: the steps make the rows that come in above.
    const size_t madeAtFirst = view->topLevelList()->rows().size();
    // Until rows have come in above, and a few steps past that.
    int stepsAfterMaking = 0;
    for (int step = 0; step < 80 && stepsAfterMaking < 4; ++step) {
        if (view->topLevelList()->rows().size() > madeAtFirst)
            ++stepsAfterMaking;
        QTest::qWait(20);
        int first = 0;
        while (first < 400 && !(madeRow(first) && madeRow(first)->mapTo(viewport, QPoint(0, 0)).y() >= 0))
            ++first;
        QVERIFY(first < 400);
        const int before = madeRow(first)->mapTo(viewport, QPoint(0, 0)).y();
        scroll->setValue(scroll->value() - 150);
        QTRY_VERIFY(view->isLaidOut());
        QTest::qWait(20);
        QCOMPARE(madeRow(first)->mapTo(viewport, QPoint(0, 0)).y(), before + 150);
    }
    QVERIFY(view->topLevelList()->rows().size() > madeAtFirst);
}

void TestLongPage::arrowKeysCrossIntoRowsNotMadeYet_data()
{
    QTest::addColumn<bool>("down");
    QTest::newRow("down from the last row made") << true;
    QTest::newRow("up from the first row made after a jump") << false;
}

void TestLongPage::arrowKeysCrossIntoRowsNotMadeYet()
{
    QFETCH(bool, down);
    auto view = openLongPage(400);
    QVERIFY(view);
    const int madeFirst = int(view->topLevelList()->rows().size()); // rows are made from the top down
    int from = madeFirst - 1;
    if (!down) {
        scrollTo(300);
        QTRY_VERIFY(view->isLaidOut() && madeRow(300));
        from = madeFirst;
        while (!madeRow(from))
            ++from;
    }
    const int to = down ? from + 1 : from - 1;
    QVERIFY(madeRow(from));
    QVERIFY(!madeRow(to));
    RichTextEditor *editor = madeRow(from)->richEditor();
    QVERIFY(EditorFixture::focusOn(editor));
    editor->moveCursor(down ? QTextCursor::End : QTextCursor::Start);

    QTest::keyClick(editor, down ? Qt::Key_Down : Qt::Key_Up);
    QVERIFY(madeRow(to));
    QTRY_VERIFY(madeRow(to)->richEditor()->hasFocus());
    QTest::keyClicks(QApplication::focusWidget(), "x");
    // The caret keeps its place across the line: the end of one line of the same length, or its
    // start. On screen first, then stored: a loaded machine may take a while over the second.
    const QString typed = down ? QStringLiteral("line %1x").arg(to) : QStringLiteral("xline %1").arg(to);
    QTRY_COMPARE(madeRow(to)->richEditor()->toRawText(), typed);
    QTRY_COMPARE_WITH_TIMEOUT(storedText(to), typed, 20000);
    QCOMPARE(view->model().focus().focusedBlock(), std::optional<QString>(m_blocks[size_t(to)].localID));
}

void TestLongPage::newBlockAtTheEndStaysInView_data()
{
    QTest::addColumn<QString>("after"); // what follows Return in the last block
    QTest::newRow("Return") << "";
    QTest::newRow("then a slash pick of a kind without text") << "/div";
}

void TestLongPage::newBlockAtTheEndStaysInView()
{
    QFETCH(QString, after);
    auto view = openLongPage(60);
    QVERIFY(view);
    QScrollBar *bar = view->scrollArea()->verticalScrollBar();
    bar->setValue(bar->maximum());
    QTRY_VERIFY(view->isLaidOut() && madeRow(59) && madeRow(59)->isVisible());
    RichTextEditor *last = madeRow(59)->richEditor();
    QVERIFY(EditorFixture::focusOn(last));
    last->moveCursor(QTextCursor::End);
    // The last row sits at the view's bottom edge: the new one comes below it.
    const int edge = last->mapTo(view->scrollArea()->viewport(), QPoint(0, last->height())).y();
    QVERIFY(edge <= view->scrollArea()->viewport()->height());

    QTest::keyClick(last, Qt::Key_Return);
    if (!after.isEmpty()) {
        QTest::keyClicks(QApplication::focusWidget(), after);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    }
    auto *editor = qobject_cast<QTextEdit *>(QApplication::focusWidget());
    QVERIFY(editor);
    QWidget *viewport = view->scrollArea()->viewport();
    const auto caretShown = [&] {
        const QRect caret = editor->cursorRect();
        const QRect shown(editor->viewport()->mapTo(viewport, caret.topLeft()), caret.size());
        return viewport->rect().contains(shown);
    };
    QTRY_VERIFY(caretShown());
    // Nothing moves it away again once the rows settle.
    QVERIFY(!QTest::qWaitFor([&] { return !caretShown(); }, 300));
    QTest::keyClicks(editor, "end");
    const std::vector<FNBlock> live = m_device->liveBlocks(view->pageLocalID());
    QCOMPARE(live.size(), size_t(after.isEmpty() ? 61 : 62));
    QTRY_COMPARE(TestDevice::textOf(*m_device->block(live.back().localID)), QStringLiteral("end"));
}

void TestLongPage::blockChangedOffScreenShowsWhenScrolledIn()
{
    auto view = openLongPage(300);
    QVERIFY(view);
    QVERIFY(!madeRow(250));
    m_device->setBlockText(m_blocks[250].localID, QStringLiteral("changed elsewhere"));
    scrollTo(250);
    QTRY_VERIFY(madeRow(250) && madeRow(250)->isVisible());
    QCOMPARE(madeRow(250)->richEditor()->toRawText(), QStringLiteral("changed elsewhere"));
}

void TestLongPage::focusOfABlockOffScreenMakesAndShowsItsRow()
{
    auto view = openLongPage(300);
    QVERIFY(view);
    QVERIFY(!madeRow(280));
    view->model().focusBlock(m_blocks[280].localID);
    QTRY_VERIFY(madeRow(280) && madeRow(280)->richEditor()->hasFocus());
    QWidget *viewport = view->scrollArea()->viewport();
    QTRY_VERIFY(viewport->rect().contains(madeRow(280)->mapTo(viewport, QPoint(1, 1))));
    QTest::keyClicks(QApplication::focusWidget(), "!");
    QTRY_VERIFY(storedText(280).contains(QLatin1Char('!')));
    QCOMPARE(storedText(280).remove(QLatin1Char('!')), QStringLiteral("line 280"));
}

void TestLongPage::selectModeReachesRowsMadeLater()
{
    auto view = openLongPage(300);
    QVERIFY(view);
    view->model().toggleSelectMode();
    QVERIFY(!madeRow(290));
    scrollTo(290);
    QTRY_VERIFY(madeRow(290) && madeRow(290)->isVisible());
    QVERIFY(madeRow(290)->selectBox()->isVisible());
    QTest::mouseClick(madeRow(290)->selectBox(), Qt::LeftButton);
    QCOMPARE(view->model().selectedBlocks(), QSet<QString>({m_blocks[290].localID}));
    // Deleting the selection from down here removes that block only.
    view->model().requestDeleteSelected();
    QTRY_VERIFY(m_device->block(m_blocks[290].localID)->deletedAt);
    QCOMPARE(m_device->liveBlocks(view->pageLocalID()).size(), size_t(299));
}

void TestLongPage::oneFormatToolbarForThePage()
{
    auto view = openLongPage(300);
    QVERIFY(view);
    for (const int index : {0, 3, 270, 271}) {
        BlockRow *row = view->row(m_blocks[size_t(index)].localID);
        QVERIFY(row);
        QVERIFY(row->focusEditor());
        view->scrollArea()->ensureWidgetVisible(row);
        QTRY_VERIFY(row->formatToolbar() == view->formatToolbar() && view->formatToolbar()->isVisible());
    }
    QCOMPARE(view->findChildren<FormatToolbar *>().size(), qsizetype(1));
    // Shown at the focused row, not at a row focused before.
    QWidget *column = view->scrollArea()->widget();
    const QRect bar(view->formatToolbar()->mapTo(column, QPoint(0, 0)), view->formatToolbar()->size());
    const QRect row(madeRow(271)->mapTo(column, QPoint(0, 0)), madeRow(271)->size());
    const bool besideTheText = bar.top() >= row.top() && bar.bottom() <= row.bottom() + 6;
    QVERIFY(besideTheText || qAbs(bar.bottom() - row.top()) <= 6 || qAbs(bar.top() - row.bottom()) <= 6);

    // Its shadow lies right under it wherever it goes, and goes when it does.
    const QList<PaintedShadow *> shadows = view->findChildren<PaintedShadow *>();
    QCOMPARE(shadows.size(), qsizetype(1));
    PaintedShadow *shadow = shadows.front();
    QVERIFY(shadow->isVisible());
    QCOMPARE(shadow->parentWidget(), view->formatToolbar()->parentWidget());
    QVERIFY(shadow->geometry().contains(view->formatToolbar()->geometry()));
    const QObjectList &stack = view->formatToolbar()->parentWidget()->children();
    QCOMPARE(stack.indexOf(shadow), stack.indexOf(view->formatToolbar()) - 1);
    view->formatToolbar()->hide();
    QVERIFY(!shadow->isVisible());
}

void TestLongPage::eachFlushCarriesWhatChangedAsItIsNow()
{
    auto view = openLongPage(200);
    QVERIFY(view);
    // The page and its blocks are on the service.
    m_device->store().change([&](StoreState &state) {
        for (FNPage &page : state.pages) {
            if (page.localID == view->pageLocalID())
                page.serverID = 4242;
        }
        qint64 id = 9000;
        for (FNBlock &block : state.blocks) {
            if (block.pageLocalID == view->pageLocalID())
                block.serverID = ++id;
        }
    });
    // What the flushes queued from `from` on, one payload after another.
    const auto upsertsFrom = [&](size_t from) {
        const auto &outbox = m_device->store().state().outbox;
        QString payloads;
        for (size_t i = from; i < outbox.size(); ++i)
            payloads += outbox[i].payloadJSON;
        return payloads;
    };
    // Edits typed and from elsewhere, on screen and off it: the flushes carry them as they are now,
    // and nothing the service already holds.
    for (const QString &text : {QStringLiteral("first"), QStringLiteral("second")}) {
        const size_t queuedBefore = m_device->store().state().outbox.size();
        QVERIFY(EditorFixture::focusOn(madeRow(1)->richEditor()));
        madeRow(1)->richEditor()->selectAll();
        QTest::keyClicks(QApplication::focusWidget(), text);
        QTRY_COMPARE(storedText(1), text);
        m_device->setBlockText(m_blocks[190].localID, text + QStringLiteral(" far below"));
        view->model().queueBlockUpserts();
        const QString payload = upsertsFrom(queuedBefore);
        QVERIFY2(payload.contains(QStringLiteral("\"text\":\"%1\"").arg(text)),
                 qPrintable(payload.left(300)));
        QVERIFY(payload.contains(QStringLiteral("\"text\":\"%1 far below\"").arg(text)));
        QVERIFY(!payload.contains(QStringLiteral("\"text\":\"line 150\"")));
        QCOMPARE(payload.count(QStringLiteral("\"client_id\"")), 2);
    }
}

void TestLongPage::rowsOfOtherBlocksAreLeftAlone_data()
{
    QTest::addColumn<bool>("bulk");
    QTest::newRow("one block's change") << false;
    QTest::newRow("a bulk change of the store") << true;
}

void TestLongPage::rowsOfOtherBlocksAreLeftAlone()
{
    QFETCH(bool, bulk);
    auto view = openLongPage(200);
    QVERIFY(view);
    BlockRow *other = madeRow(2);
    BlockRow *changed = madeRow(3);
    QVERIFY(other && changed);
    QSignalSpy otherText(&other->model(), &BlockRowModel::textChanged);
    QSignalSpy otherContent(&other->model(), &BlockRowModel::contentChanged);
    QSignalSpy changedText(&changed->model(), &BlockRowModel::textChanged);
    const QString id = m_blocks[3].localID;
    if (bulk) {
        m_device->store().change([&](StoreState &state) {
            for (FNBlock &block : state.blocks) {
                if (block.localID == id)
                    block.contentJSON = QStringLiteral(R"({"text":"pulled"})");
            }
        });
    } else {
        m_device->setBlockText(id, QStringLiteral("pulled"));
    }
    QTRY_COMPARE(changed->richEditor()->toRawText(), QStringLiteral("pulled"));
    QVERIFY(changedText.count() > 0);
    QCOMPARE(otherText.count(), 0);
    QCOMPARE(otherContent.count(), 0);
    QCOMPARE(other->richEditor()->toRawText(), QStringLiteral("line 2"));
}

enum class BlockMove { KeyTyped, TextStored, Appended, Reordered, Deleted, MovedIn, Retyped };
Q_DECLARE_METATYPE(BlockMove)

void TestLongPage::pageIsListedAgainOnlyWhenItsBlocksMove_data()
{
    QTest::addColumn<BlockMove>("move");
    QTest::addColumn<bool>("listedAgain");
    QTest::addColumn<int>("rowsAfter");
    QTest::newRow("a key typed into a row") << BlockMove::KeyTyped << false << 100;
    QTest::newRow("a block's text stored") << BlockMove::TextStored << false << 100;
    QTest::newRow("a block appended alone") << BlockMove::Appended << true << 101;
    QTest::newRow("a block moved to the end") << BlockMove::Reordered << true << 100;
    QTest::newRow("a block deleted") << BlockMove::Deleted << true << 99;
    QTest::newRow("a block of another page moved in") << BlockMove::MovedIn << true << 101;
    QTest::newRow("a block's kind changed") << BlockMove::Retyped << true << 100;
}

// Typing changes no list: the row shows the text itself. Whatever adds, removes or reorders the
// page's rows reads it again, also when the store tells of it by no signal of its own.
void TestLongPage::pageIsListedAgainOnlyWhenItsBlocksMove()
{
    QFETCH(BlockMove, move);
    QFETCH(bool, listedAgain);
    QFETCH(int, rowsAfter);
    auto view = openLongPage(100);
    QVERIFY(view);
    PageRowList *list = view->topLevelList();
    LocalStore &store = m_device->store();
    const FNBlock other =
        m_device->addBlock(m_device->addPage(m_account.workspaceId, "Other").localID, "away", 0);
    QTRY_VERIFY(view->isLaidOut());
    const int reads = list->reads();
    const QString first = m_blocks[1].localID;
    switch (move) {
    case BlockMove::KeyTyped:
        QVERIFY(madeRow(1)->focusEditor(BlockRow::Caret::end));
        QTest::keyClicks(madeRow(1)->richEditor(), "xy");
        QTRY_COMPARE(storedText(1), QStringLiteral("line 1xy"));
        break;
    case BlockMove::TextStored:
        m_device->setBlockText(first, QStringLiteral("stored"));
        break;
    case BlockMove::Appended: {
        FNBlock block = m_blocks[0];
        block.localID = newLocalID();
        block.position = 100;
        store.appendBlocks({block});
        break;
    }
    case BlockMove::Reordered:
        QVERIFY(store.editBlock(first, [](FNBlock &b) { b.position = 500; }));
        break;
    case BlockMove::Deleted:
        store.markBlockDeleted(first);
        break;
    case BlockMove::MovedIn:
        QVERIFY(store.editBlock(other.localID, [&](FNBlock &b) { b.pageLocalID = m_blocks[0].pageLocalID; }));
        break;
    case BlockMove::Retyped:
        QVERIFY(store.editBlock(first, [](FNBlock &b) { b.type = QStringLiteral("h1"); }));
        break;
    }
    QTRY_VERIFY(view->isLaidOut());
    QCOMPARE(list->reads() > reads, listedAgain);
    QCOMPARE(int(list->placeholderCount() + list->rows().size()), rowsAfter);
    if (move == BlockMove::Reordered)
        QCOMPARE(list->rows()[1]->model().localID(), m_blocks[2].localID);
}

namespace {

// What each watched widget was asked to paint, in pixels, and how often one was painted over most
// of its height (a caret's blink is not counted).
class PaintedArea : public QObject
{
public:
    explicit PaintedArea(const std::vector<QWidget *> &widgets)
    {
        for (QWidget *widget : widgets)
            widget->installEventFilter(this);
    }
    qint64 total = 0;
    int wholePaints = 0;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Paint) {
            const QRegion &region = static_cast<QPaintEvent *>(event)->region();
            for (const QRect &rect : region)
                total += qint64(rect.width()) * rect.height();
            if (region.boundingRect().height() > static_cast<QWidget *>(watched)->height() / 2)
                ++wholePaints;
        }
        return false;
    }
};

} // namespace

void TestLongPage::rowsAroundARowThatChangesHeightAreNotRepainted_data()
{
    QTest::addColumn<bool>("grows");
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("typedAt");
    QTest::addColumn<QString>("typedText"); // in place of the row's text, when given
    QTest::newRow("a line wraps") << true << 60 << 1 << QString();
    QTest::newRow("a line goes") << false << 60 << 1 << QString();
    // Scrolled to the middle of a page longer than its rows made: places still wait above and below.
    QTest::newRow("a line wraps, far down a long page") << true << 400 << 200 << QString();
    QTest::newRow("a line goes, far down a long page") << false << 400 << 200 << QString();
    // The rows around it taller than the one that grows.
    QTest::newRow("a short line wraps, far down a long page")
        << true << 400 << 200 << QStringLiteral("short");
}

// A line that wraps or goes moves every row below it by that line: their pixels are moved, and only
// the line's height of each is painted again; the rows above it are left as they are. The row that
// changed is painted once.
void TestLongPage::rowsAroundARowThatChangesHeightAreNotRepainted()
{
    QFETCH(bool, grows);
    QFETCH(int, count);
    QFETCH(int, typedAt);
    QFETCH(QString, typedText);
    // Rows of a few lines each, so that one line is a small part of a row.
    auto view = openLongPage(count, QStringLiteral(" and a few more words").repeated(10));
    QVERIFY(view);
    QWidget *viewport = view->scrollArea()->viewport();
    if (typedAt > 1) {
        scrollTo(typedAt);
        QTRY_VERIFY(view->isLaidOut() && madeRow(typedAt));
    }
    BlockRow *typed = madeRow(typedAt);
    QVERIFY(typed && typed->focusEditor(BlockRow::Caret::end));
    if (!typedText.isEmpty()) {
        typed->richEditor()->selectAll();
        QTest::keyClicks(typed->richEditor(), typedText);
    }
    const auto inView = [&](QWidget *widget) {
        return viewport->rect().contains(QRect(widget->mapTo(viewport, QPoint()), widget->size()));
    };
    // Rows made above it settle their heights over a few passes: brought into view until it stays.
    QScrollBar *bar = view->scrollArea()->verticalScrollBar();
    QTRY_VERIFY((bar->setValue(bar->value() + madeRow(typedAt)->mapTo(viewport, QPoint()).y() -
                               viewport->height() / 3),
                 view->isLaidOut() && madeRow(typedAt + 2) && inView(madeRow(typedAt + 2))));
    takeLayoutAndPaints();
    // Every other row in view: those below move, those above stay.
    std::vector<QWidget *> others;
    qint64 othersArea = 0;
    for (int i = std::max(0, typedAt - 8); madeRow(i) && i <= typedAt + 12; ++i) {
        if (i == typedAt || !inView(madeRow(i)))
            continue;
        others.push_back(madeRow(i)->richEditor()->viewport());
        othersArea += qint64(others.back()->width()) * others.back()->height();
    }
    QVERIFY(others.size() >= 2);
    QWidget *firstBelow = madeRow(typedAt + 1)->richEditor()->viewport();
    const int firstY = firstBelow->mapTo(viewport, QPoint()).y();

    // One key at a time, each laid out and painted, until the row's height changes.
    PaintedArea painted(others);
    PaintedArea typedPainted({typed->richEditor()->viewport()});
    const int height = typed->height();
    for (int key = 0; key < 400 && typed->height() == height; ++key) {
        painted.total = 0;
        typedPainted.wholePaints = 0;
        QTest::keyClick(typed->richEditor(), grows ? Qt::Key_W : Qt::Key_Backspace);
        takeLayoutAndPaints();
    }
    QVERIFY(grows ? typed->height() > height : typed->height() < height);
    QVERIFY(firstBelow->mapTo(viewport, QPoint()).y() != firstY);
    QVERIFY2(painted.total < othersArea * 6 / 10,
             qPrintable(QStringLiteral("%1 of %2 pixels painted again").arg(painted.total).arg(othersArea)));
    // The rows were laid out before the window painted: the text was not painted once before they
    // moved and again after.
    QCOMPARE(typedPainted.wholePaints, 1);
}

// The rows found for a band of the list without walking it: exactly the made rows whose places reach
// into it, a row's own edges and the gaps between rows included.
void TestLongPage::rowsWithinABandAreTheMadeRowsThatReachIntoIt()
{
    auto view = openLongPage(300);
    QVERIFY(view);
    scrollTo(150);
    QTRY_VERIFY(view->isLaidOut() && madeRow(150));
    PageRowList *list = view->topLevelList();
    const QRect row = madeRow(150)->parentWidget()->geometry();
    const auto reaching = [&](int top, int bottom) {
        std::vector<BlockRow *> rows;
        for (BlockRow *made : list->rows()) {
            const QRect place = made->parentWidget()->geometry();
            if (place.bottom() >= top && place.top() < bottom)
                rows.push_back(made);
        }
        return rows;
    };
    const std::pair<int, int> bands[] = {
        {row.top(), row.bottom() + 1},             // the row itself
        {row.top() - 1, row.top()},                // the pixel above it: the gap
        {row.bottom(), row.bottom() + 1},          // its last pixel
        {row.bottom() + 1, row.bottom() + 1 + list->spacing()}, // the gap below it
        {row.top() - 200, row.bottom() + 200},     // a screen around it
        {0, 1},                                    // the list's first pixel
    };
    for (const auto &[top, bottom] : bands) {
        const std::vector<BlockRow *> found = list->rowsWithin(top, bottom);
        QVERIFY2(found == reaching(top, bottom), qPrintable(QStringLiteral("band %1 to %2: %3 rows")
                                                                .arg(top)
                                                                .arg(bottom)
                                                                .arg(found.size())));
    }
    QVERIFY(!list->rowsWithin(row.top() - 200, row.bottom() + 200).empty());
}

QTEST_MAIN(TestLongPage)
#include "tst_long_page.moc"
