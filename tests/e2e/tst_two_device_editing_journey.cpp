#include "app/main_view.h"
#include "app/sync_button.h"
#include "editor/block_row.h"
#include "editor/draggable_block_modifier.h"
#include "editor/page_view.h"
#include "editor/rich_text_editor.h"
#include "fake-service/fake_service.h"
#include "platform/icon_theme.h"
#include "support/collab_steps.h"
#include "support/editor_steps.h"
#include "support/journey.h"

#include <QMimeData>
#include <QSignalSpy>
#include <QTest>

#include <algorithm>
#include <memory>

using namespace std::chrono_literals;

namespace {

const QString kEmail = QStringLiteral("robin@example.com");
const QString kPassword = QStringLiteral("hunter22");
const QString kName = QStringLiteral("Robin Hale");
const QString kTitle = QStringLiteral("Three lines");
const QStringList kBlocks{QStringLiteral("alpha"), QStringLiteral("beta"), QStringLiteral("gamma")};

} // namespace

using namespace journey;

// One user signed in on a desktop and a laptop, the same page open in both windows, typing on both
// before either syncs: into different blocks, then into the same one. What each window shows and
// what the service holds agree once both have synced. The steps build on each other.
class TestTwoDeviceEditingJourney : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void cleanupTestCase();

    void writeThePageAndOpenItOnBothDevices();
    void typeIntoDifferentBlocks();
    void typeIntoTheSameBlock();
    void insertDeleteAndDragWhileTheOtherTypes();

private:
    qint64 pageId() { return pageServerID(m_fake, kTitle); }
    // From now on the device syncs only when its sync button is clicked: the edits of both devices
    // can then be made between the same two cycles.
    static void syncOnlyOnClick(Launch &launched);
    // Clicks the device's sync button and waits for the cycle it starts to end.
    static void clickSync(Launch &launched);
    // Types at the end of the block's text in the device's window, then moves down to the next block
    // if asked, and waits for the edit to be queued for the service.
    static void typeAtEnd(Launch &launched, int block, const QString &text, bool moveDown = false);
    // Each device pushes what it queued, the first again to pull the second's; then the windows and
    // the service show `texts`, with nothing left to send.
    void syncBothAndExpect(const QStringList &texts);
    // The device's row of the block drawn at `index`.
    static BlockRow *rowAt(Launch &launched, int index);
    // Types at the end of the row's text and waits for the edit to be queued.
    static void typeAtEndOf(Launch &launched, BlockRow *row, const QString &text);
    // Waits until an upsert waiting to go carries the text.
    static void waitQueued(Launch &launched, const QString &text);
    // Drags the row by its handle and drops it on the upper half of the row drawn at `onto`.
    static void dragRow(Launch &launched, BlockRow *row, int onto);

    FakeService m_fake;
    AppDevice m_desktopDevice;
    AppDevice m_laptopDevice;
    std::unique_ptr<Launch> m_desktop;
    std::unique_ptr<Launch> m_laptop;
    bool m_failed = false;
};

void TestTwoDeviceEditingJourney::initTestCase()
{
    IconTheme::installFallback(); // as main() does
    QVERIFY(m_fake.start());
    m_desktopDevice.origin = m_fake.origin();
    m_laptopDevice.origin = m_fake.origin();
}

void TestTwoDeviceEditingJourney::init()
{
    if (m_failed)
        QSKIP("an earlier step failed");
}

void TestTwoDeviceEditingJourney::cleanup()
{
    m_failed = m_failed || QTest::currentTestFailed();
}

void TestTwoDeviceEditingJourney::cleanupTestCase()
{
    quit(m_laptop);
    quit(m_desktop);
}

void TestTwoDeviceEditingJourney::syncOnlyOnClick(Launch &launched)
{
    SyncEngine &engine = launched.app->engine;
    engine.stopLoop();
    engine.setQueueDelay(24h);
    QTRY_VERIFY_WITH_TIMEOUT(!engine.isSyncing(), kWait);
}

void TestTwoDeviceEditingJourney::clickSync(Launch &launched)
{
    SyncEngine &engine = launched.app->engine;
    // A cycle already under way would swallow the click; one started by the click pulls what the
    // other device pushed before it.
    QTRY_VERIFY_WITH_TIMEOUT(!engine.isSyncing(), kWait);
    QSignalSpy cycles(&engine, &SyncEngine::cycleFinished);
    QTest::mouseClick(launched.mainView()->syncButton(), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(!cycles.isEmpty() && !engine.isSyncing(), kWait);
}

void TestTwoDeviceEditingJourney::typeAtEnd(Launch &launched, int block, const QString &text, bool moveDown)
{
    activate(launched.window.get());
    PageView *page = launched.pageView();
    QVERIFY(page);
    const std::vector<BlockRow *> rows = rowsAsDrawn(page);
    QCOMPARE(rows.size(), size_t(kBlocks.size()));
    RichTextEditor *editor = rows[size_t(block)]->richEditor();
    const QString before = editor->toRawText();
    focus(editor);
    QTest::keyClicks(keyboard(), text);
    QCOMPARE(editor->toRawText(), before + text);
    // On to the next line, as a user does when done with one: a block being typed in shows what
    // another device wrote into it only once the user has left it.
    if (moveDown) {
        QTest::keyClick(keyboard(), Qt::Key_Down);
        QTRY_VERIFY(!editor->hasFocus());
    }
    const auto queued = [&] {
        const auto &outbox = launched.app->store.state().outbox;
        return std::any_of(outbox.begin(), outbox.end(),
                           [](const FNSyncOp &op) { return op.kind() == SyncOpKind::BlockUpsert; });
    };
    QTRY_VERIFY_WITH_TIMEOUT(queued(), kWait);
}

void TestTwoDeviceEditingJourney::syncBothAndExpect(const QStringList &texts)
{
    clickSync(*m_desktop);
    clickSync(*m_laptop);
    clickSync(*m_desktop);
    QCOMPARE(storedTexts(m_fake, pageId()), texts);
    for (Launch *launched : {m_desktop.get(), m_laptop.get()}) {
        QTRY_COMPARE_WITH_TIMEOUT(shownTexts(launched->pageView()), texts, kWait);
        QVERIFY(launched->app->store.state().outbox.empty());
        QTRY_VERIFY_WITH_TIMEOUT(upToDate(*launched), kWait);
    }
}

void TestTwoDeviceEditingJourney::writeThePageAndOpenItOnBothDevices()
{
    m_desktop = launch(m_desktopDevice);
    QVERIFY(m_desktop);
    signInThroughTheForm(*m_desktop, kEmail, kPassword, kName);
    QTRY_VERIFY_WITH_TIMEOUT(upToDate(*m_desktop), kWait);

    // A new page from the keyboard: its title, then one block after another.
    activate(m_desktop->window.get());
    QTest::keyClick(m_desktop->window.get(), Qt::Key_N, Qt::ControlModifier);
    QTRY_VERIFY(m_desktop->pageView() && m_desktop->pageView()->titleField()->hasFocus());
    PageView *page = m_desktop->pageView();
    QTest::keyClicks(keyboard(), kTitle);
    typeBlocks(page, kBlocks);
    QTRY_COMPARE_WITH_TIMEOUT(storedTexts(m_fake, pageId()), kBlocks, kWait);
    QTRY_VERIFY_WITH_TIMEOUT(upToDate(*m_desktop), kWait);

    // The same account on a laptop, with the page open there too.
    m_laptop = launch(m_laptopDevice);
    QVERIFY(m_laptop);
    signInThroughTheForm(*m_laptop, kEmail, kPassword);
    LibraryView *sidebar = m_laptop->sidebar();
    QVERIFY(sidebar);
    QTRY_VERIFY_WITH_TIMEOUT(sidebarRow(sidebar, kTitle).isValid(), kWait);
    clickRow(sidebar, kTitle);
    QTRY_VERIFY_WITH_TIMEOUT(m_laptop->pageView(), kWait);
    QTRY_COMPARE_WITH_TIMEOUT(shownTexts(m_laptop->pageView()), kBlocks, kWait);
    QTRY_VERIFY_WITH_TIMEOUT(upToDate(*m_laptop), kWait);
    QCOMPARE(shownTexts(m_desktop->pageView()), kBlocks);
}

void TestTwoDeviceEditingJourney::typeIntoDifferentBlocks()
{
    syncOnlyOnClick(*m_desktop);
    syncOnlyOnClick(*m_laptop);
    typeAtEnd(*m_desktop, 0, QStringLiteral(" from the desktop"));
    typeAtEnd(*m_laptop, 2, QStringLiteral(" from the laptop"));
    // Neither device has sent its edit: each was typed over the page as it was before the other's.
    QCOMPARE(storedTexts(m_fake, pageId()), kBlocks);
    QCOMPARE(shownTexts(m_desktop->pageView()),
             (QStringList{QStringLiteral("alpha from the desktop"), QStringLiteral("beta"),
                          QStringLiteral("gamma")}));
    QCOMPARE(shownTexts(m_laptop->pageView()), (QStringList{QStringLiteral("alpha"), QStringLiteral("beta"),
                                                            QStringLiteral("gamma from the laptop")}));

    syncBothAndExpect({QStringLiteral("alpha from the desktop"), QStringLiteral("beta"),
                       QStringLiteral("gamma from the laptop")});
}

void TestTwoDeviceEditingJourney::typeIntoTheSameBlock()
{
    const QString desktopText = QStringLiteral("beta, said the desktop");
    const QString laptopText = QStringLiteral("beta, said the laptop");
    typeAtEnd(*m_desktop, 1, QStringLiteral(", said the desktop"), true);
    typeAtEnd(*m_laptop, 1, QStringLiteral(", said the laptop"), true);
    QCOMPARE(storedTexts(m_fake, pageId()).at(1), QStringLiteral("beta"));
    QCOMPARE(shownTexts(m_desktop->pageView()).at(1), desktopText);
    QCOMPARE(shownTexts(m_laptop->pageView()).at(1), laptopText);

    clickSync(*m_desktop);
    clickSync(*m_laptop);
    clickSync(*m_desktop);
    // The later push wins; whichever it is, both windows and the service show the same text, and
    // the other blocks are as the first round left them.
    const QStringList stored = storedTexts(m_fake, pageId());
    QCOMPARE(stored.size(), kBlocks.size());
    QVERIFY2(stored.at(1) == desktopText || stored.at(1) == laptopText, qPrintable(stored.at(1)));
    syncBothAndExpect(
        {QStringLiteral("alpha from the desktop"), stored.at(1), QStringLiteral("gamma from the laptop")});
}

BlockRow *TestTwoDeviceEditingJourney::rowAt(Launch &launched, int index)
{
    const std::vector<BlockRow *> rows = rowsAsDrawn(launched.pageView());
    return index < int(rows.size()) ? rows[size_t(index)] : nullptr;
}

void TestTwoDeviceEditingJourney::typeAtEndOf(Launch &launched, BlockRow *row, const QString &text)
{
    activate(launched.window.get());
    RichTextEditor *editor = row->richEditor();
    const QString before = editor->toRawText();
    focus(editor);
    QTest::keyClick(keyboard(), Qt::Key_End);
    QTest::keyClicks(keyboard(), text);
    QCOMPARE(editor->toRawText(), before + text);
    waitQueued(launched, before + text);
}

void TestTwoDeviceEditingJourney::waitQueued(Launch &launched, const QString &text)
{
    const auto queued = [&] {
        const auto &outbox = launched.app->store.state().outbox;
        return std::any_of(outbox.begin(), outbox.end(), [&](const FNSyncOp &op) {
            return op.kind() == SyncOpKind::BlockUpsert && op.payloadJSON.contains(text);
        });
    };
    QTRY_VERIFY_WITH_TIMEOUT(queued(), kWait);
}

void TestTwoDeviceEditingJourney::dragRow(Launch &launched, BlockRow *row, int onto)
{
    activate(launched.window.get());
    PageView *page = launched.pageView();
    QWidget *frame = page->rowFrame(row->model().localID());
    QVERIFY(frame);
    auto *handle = frame->findChild<DraggableBlockModifier *>();
    QVERIFY(handle && handle->isEnabled());
    std::unique_ptr<QMimeData> payload(handle->makeMimeData());
    EditorSteps::PageDrag drag(*page, payload.get());
    QWidget *target = page->rowFrame(rowAt(launched, onto)->model().localID());
    const QPoint at = target->mapTo(page->scrollArea()->viewport(), QPoint(target->width() / 2, target->height() / 4));
    QVERIFY(drag.moveTo(at));
    QVERIFY(drag.drop(at));
    page->model().flushPendingEdits();
    QTRY_VERIFY_WITH_TIMEOUT(!launched.app->store.state().outbox.empty(), kWait);
    QTRY_VERIFY_WITH_TIMEOUT(!page->model().isBlockFlushPending(), kWait);
}

// One device changes the page's order (a new line, a line removed, a line dragged) while the other
// types into lines whose places move: neither undoes the other, on either screen or the service.
void TestTwoDeviceEditingJourney::insertDeleteAndDragWhileTheOtherTypes()
{
    const QString alpha = QStringLiteral("alpha from the desktop");
    const QString gamma = QStringLiteral("gamma from the laptop");
    const QString beta = storedTexts(m_fake, pageId()).at(1);

    // A new line after the first on the desktop; the laptop types into the last.
    activate(m_desktop->window.get());
    RichTextEditor *first = rowAt(*m_desktop, 0)->richEditor();
    focus(first);
    QTest::keyClick(keyboard(), Qt::Key_End);
    QTest::keyClick(keyboard(), Qt::Key_Return);
    QTest::keyClicks(keyboard(), QStringLiteral("a new line"));
    QTRY_COMPARE(shownTexts(m_desktop->pageView()).size(), 4);
    waitQueued(*m_desktop, QStringLiteral("a new line"));
    typeAtEndOf(*m_laptop, rowAt(*m_laptop, 2), QStringLiteral(", typed on"));
    syncBothAndExpect({alpha, QStringLiteral("a new line"), beta, gamma + QStringLiteral(", typed on")});

    // The last line dragged to the top on the laptop while the desktop types into it.
    typeAtEndOf(*m_desktop, rowAt(*m_desktop, 3), QStringLiteral(" and on"));
    dragRow(*m_laptop, rowAt(*m_laptop, 3), 0);
    QTRY_COMPARE_WITH_TIMEOUT(shownTexts(m_laptop->pageView()).first(), gamma + QStringLiteral(", typed on"), kWait);
    const QString moved = gamma + QStringLiteral(", typed on and on");
    syncBothAndExpect({moved, alpha, QStringLiteral("a new line"), beta});

    // The new line emptied and removed with Backspace on the desktop; the laptop types below it.
    activate(m_desktop->window.get());
    RichTextEditor *added = rowAt(*m_desktop, 2)->richEditor();
    focus(added);
    QTest::keyClick(keyboard(), Qt::Key_End);
    for (int i = 0; i < QStringLiteral("a new line").size() + 1; ++i)
        QTest::keyClick(keyboard(), Qt::Key_Backspace);
    QTRY_COMPARE(shownTexts(m_desktop->pageView()).size(), 3);
    QTRY_VERIFY_WITH_TIMEOUT(std::any_of(m_desktop->app->store.state().outbox.begin(),
                                         m_desktop->app->store.state().outbox.end(),
                                         [](const FNSyncOp &op) { return op.kind() == SyncOpKind::BlockDelete; }),
                             kWait);
    typeAtEndOf(*m_laptop, rowAt(*m_laptop, 3), QStringLiteral(" (kept)"));
    syncBothAndExpect({moved, alpha, beta + QStringLiteral(" (kept)")});
}

QTEST_MAIN(TestTwoDeviceEditingJourney)
#include "tst_two_device_editing_journey.moc"
