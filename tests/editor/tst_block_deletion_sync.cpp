#include "editor/block_row.h"
#include "editor/page_view.h"
#include "editor/rich_text_editor.h"
#include "fake-service/fake_service.h"
#include "platform/preset_confirmer.h"
#include "store/block_fields.h"
#include "store/outbox.h"
#include "support/collab_steps.h"
#include "support/editor_steps.h"
#include "support/test_device.h"

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <memory>

namespace {

const QString kBlocksPath = QStringLiteral("/api/blocks.php");
constexpr int kWait = 15000;

// The ways a user removes blocks in the page editor.
enum class Way { backspace, menu, select };

// Where the removed block is when the user removes it: on the service and known there by its id, or
// just written and carried by an upsert whose answer has not come back. That answer comes at last,
// or is lost on the way with the pull that would have told the id, and the page is opened again.
enum class Moment { onService, answerHeld, answerLost };

QStringList textsOf(const std::vector<FNBlock> &blocks)
{
    QStringList out;
    for (const FNBlock &block : blocks)
        out << TestDevice::textOf(block);
    return out;
}

QStringList sorted(QStringList texts)
{
    texts.sort();
    return texts;
}

QWidget *keyboard()
{
    return QApplication::focusWidget();
}

// Runs cycles until the outbox is empty, the last one pulling after the last push. A cycle already
// under way makes sync() return at once, so it is waited out first.
bool settle(TestDevice &device)
{
    for (int cycle = 0; cycle < 5; ++cycle) {
        if (!QTest::qWaitFor([&] { return !device.engine().isSyncing(); }, kWait) || !device.sync())
            return false;
        if (device.store().state().outbox.empty())
            return true;
    }
    return false;
}

// Opens the row's "…" menu with a click and clicks the item in the menu, as a user does. The menu may
// run its own loop until it closes: the item is clicked from a timer once the menu shows.
bool chooseFromBlockMenu(BlockRow *row, const QString &item)
{
    QPointer<QMenu> menu = row->blockMenu();
    QToolButton *button = nullptr;
    for (QToolButton *candidate : row->findChildren<QToolButton *>()) {
        if (candidate->menu() == menu)
            button = candidate;
    }
    QAction *action = nullptr;
    for (QAction *candidate : menu->actions()) {
        if (candidate->text() == item)
            action = candidate;
    }
    if (!button || !action)
        return false;
    bool clicked = false;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, menu.data(), [&] {
        if (clicked || QApplication::activePopupWidget() != menu || !menu->isVisible())
            return;
        clicked = true;
        QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(action).center());
    });
    poll.start(5);
    QTest::mouseClick(button, Qt::LeftButton);
    return QTest::qWaitFor([&] { return clicked && (!menu || !menu->isVisible()); }, kWait);
}

} // namespace

Q_DECLARE_METATYPE(Way)
Q_DECLARE_METATYPE(Moment)

// Every way a user removes a block in the page editor reaches the service and the account's other
// device, over the fake service: the block goes everywhere, its neighbours stay as they were.
class TestBlockDeletionSync : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void removedBlockGoesEverywhere_data();
    void removedBlockGoesEverywhere();
    void returnAfterALineLeftAsItWasKeepsTheOtherDevicesWords();

private:
    std::unique_ptr<PageView> openView(const QString &pageLocalID, PageViewModel::Timing timing);
    // The user's removal of the blocks in the open page.
    void remove(Way way, PageView &view, const QStringList &localIDs);
    // The block written after `afterLocalID` from the keyboard; its local id.
    QString write(PageView &view, const QString &afterLocalID, const QString &text);

    FakeService m_fake;
    FakeService::Account m_account;
    std::unique_ptr<TestDevice> m_device; // where the user removes the block
    std::unique_ptr<TestDevice> m_other;  // the same account on a second device
};

void TestBlockDeletionSync::initTestCase()
{
    QVERIFY(m_fake.start());
    m_account = m_fake.createAccount("deleting@example.com", "secret12", "Deleting");
}

void TestBlockDeletionSync::init()
{
    m_fake.clearFaults();
    m_fake.clearRequests();
    m_device = std::make_unique<TestDevice>(m_fake.origin(), m_account.token);
    // Cycles run when the test says, so it knows what each one carries.
    m_device->engine().setQueueDelay(std::chrono::hours(1));
    m_other = std::make_unique<TestDevice>(m_fake.origin(), m_fake.issueToken(m_account.userId, "other"));
}

void TestBlockDeletionSync::cleanup()
{
    // A step that failed may have left an answer held.
    m_fake.clearFaults();
    m_fake.releaseHeldAnswers();
    for (TestDevice *device : {m_device.get(), m_other.get()}) {
        device->engine().stopLoop();
        QTRY_VERIFY_WITH_TIMEOUT(!device->engine().isSyncing(), kWait);
    }
    m_other.reset();
    m_device.reset();
}

std::unique_ptr<PageView> TestBlockDeletionSync::openView(const QString &pageLocalID,
                                                          PageViewModel::Timing timing)
{
    auto view = std::make_unique<PageView>(m_device->context(), pageLocalID, nullptr, timing);
    QSignalSpy loaded(&view->model(), &PageViewModel::blocksLoaded);
    view->resize(700, 600);
    view->show();
    QApplication::setActiveWindow(view.get());
    if (!QTest::qWaitForWindowActive(view.get()) || (loaded.isEmpty() && !loaded.wait(kWait)) ||
        !QTest::qWaitFor([&] { return view->isLaidOut(); }, kWait))
        return nullptr;
    return view;
}

QString TestBlockDeletionSync::write(PageView &view, const QString &afterLocalID, const QString &text)
{
    RichTextEditor *editor = view.row(afterLocalID)->richEditor();
    QTest::mouseClick(editor->viewport(), Qt::LeftButton, {},
                      EditorSteps::pointAt(*editor, editor->toRawText()));
    if (!QTest::qWaitFor([&] { return editor->hasFocus(); }, kWait))
        return {};
    QTest::keyClick(editor, Qt::Key_End);
    QTest::keyClick(editor, Qt::Key_Return);
    const std::vector<FNBlock> top = view.model().blocks().topLevelBlocks();
    const auto after =
        std::find_if(top.begin(), top.end(), [&](const FNBlock &b) { return b.localID == afterLocalID; });
    if (after == top.end() || after + 1 == top.end())
        return {};
    const QString added = (after + 1)->localID;
    if (!QTest::qWaitFor([&] { return view.row(added) && view.row(added)->richEditor()->hasFocus(); }, kWait))
        return {};
    QTest::keyClicks(keyboard(), text);
    const bool stored = QTest::qWaitFor(
        [&] {
            return TestDevice::textOf(*m_device->block(added)) == text && !view.model().isBlockFlushPending();
        },
        kWait);
    return stored ? added : QString();
}

void TestBlockDeletionSync::remove(Way way, PageView &view, const QStringList &localIDs)
{
    switch (way) {
    case Way::backspace: {
        // Emptied from its end, then one more Backspace.
        QCOMPARE(localIDs.size(), 1);
        RichTextEditor *editor = view.row(localIDs[0])->richEditor();
        QTest::mouseClick(editor->viewport(), Qt::LeftButton, {},
                          EditorSteps::pointAt(*editor, editor->toRawText()));
        QTRY_VERIFY(editor->hasFocus());
        QTest::keyClick(editor, Qt::Key_End);
        for (qsizetype i = editor->toRawText().size(); i > 0; --i)
            QTest::keyClick(editor, Qt::Key_Backspace);
        QCOMPARE(editor->toRawText(), QString());
        QTest::keyClick(editor, Qt::Key_Backspace);
        break;
    }
    case Way::menu:
        for (const QString &id : localIDs)
            QVERIFY(chooseFromBlockMenu(view.row(id), QStringLiteral("Delete block")));
        break;
    case Way::select:
        QTest::mouseClick(view.selectButton(), Qt::LeftButton);
        for (const QString &id : localIDs) {
            QToolButton *box = view.row(id)->selectBox();
            QTRY_VERIFY(box->isVisible());
            QTest::mouseClick(box, Qt::LeftButton);
        }
        QTRY_VERIFY(view.deleteSelectedButton()->isEnabled());
        QTest::mouseClick(view.deleteSelectedButton(), Qt::LeftButton);
        break;
    }
}

void TestBlockDeletionSync::removedBlockGoesEverywhere_data()
{
    QTest::addColumn<Way>("way");
    QTest::addColumn<QStringList>("texts");   // the page's top-level blocks, top to bottom
    QTest::addColumn<QStringList>("removed"); // those the user removes
    QTest::addColumn<Moment>("moment");
    // A block inside the removed one, which is then a toggle: the user types in it just before the
    // removal, and the page's edits are queued when the user leaves it.
    QTest::addColumn<QString>("inner");

    const QStringList three{"alpha", "beta", "gamma"};
    const QStringList beta{"beta"};
    QTest::newRow("Backspace in the emptied block")
        << Way::backspace << three << beta << Moment::onService << "";
    QTest::newRow("Delete block in its menu") << Way::menu << three << beta << Moment::onService << "";
    QTest::newRow("select mode, one block") << Way::select << three << beta << Moment::onService << "";
    QTest::newRow("select mode, two blocks, confirmed")
        << Way::select << QStringList{"alpha", "beta", "gamma", "delta"} << QStringList{"beta", "gamma"}
        << Moment::onService << "";
    QTest::newRow("menu, a toggle typed in") << Way::menu << three << beta << Moment::onService << "inner";
    QTest::newRow("select mode, a toggle typed in")
        << Way::select << three << beta << Moment::onService << "inner";
    QTest::newRow("Backspace before its upsert is answered")
        << Way::backspace << three << beta << Moment::answerHeld << "";
    QTest::newRow("menu before its upsert is answered")
        << Way::menu << three << beta << Moment::answerHeld << "";
    QTest::newRow("select mode before its upsert is answered")
        << Way::select << three << beta << Moment::answerHeld << "";
    QTest::newRow("menu, its upsert's answer lost") << Way::menu << three << beta << Moment::answerLost << "";
}

void TestBlockDeletionSync::removedBlockGoesEverywhere()
{
    QFETCH(Way, way);
    QFETCH(QStringList, texts);
    QFETCH(QStringList, removed);
    QFETCH(Moment, moment);
    QFETCH(QString, inner);
    const bool inFlight = moment != Moment::onService;
    QStringList kept = texts;
    for (const QString &text : removed)
        kept.removeAll(text);

    // The page on the service and on both devices; a block written in flight is not there yet.
    QStringList synced = inFlight ? kept : texts;
    const FNPage page = m_device->addPage(m_account.workspaceId, "Deletions");
    QVERIFY(settle(*m_device));
    QHash<QString, QString> localIDs; // by text
    for (qsizetype i = 0; i < synced.size(); ++i)
        localIDs.insert(synced[i], m_device->addBlock(page.localID, synced[i], i).localID);
    QVERIFY(m_device->queueBlockUpsert(page.localID));
    QVERIFY(settle(*m_device));
    if (!inner.isEmpty()) {
        const FNBlock toggle = *m_device->block(localIDs[removed.first()]);
        m_device->store().editBlock(toggle.localID, [&](FNBlock &b) {
            b.type = QStringLiteral("toggle");
            b.contentJSON = QStringLiteral("{\"text\":\"%1\",\"expanded\":true}").arg(removed.first());
        });
        Outbox::of(m_device->store()).blockEdited(page.localID, toggle.localID, BlockFields::All);
        FNBlock child = m_device->addBlock(page.localID, inner, 0);
        child.parentBlockLocalID = toggle.localID;
        child.parentBlockServerID = toggle.serverID;
        m_device->store().upsertBlock(child);
        localIDs.insert(inner, child.localID);
        synced << inner;
        QVERIFY(m_device->queueBlockUpsert(page.localID));
        QVERIFY(settle(*m_device));
    }
    const qint64 pageID = m_device->page(page.localID)->serverID;
    QCOMPARE(sorted(journey::storedTexts(m_fake, pageID)), sorted(synced));
    QVERIFY(m_other->sync());
    QVERIFY(m_other->pageWithServerID(pageID));
    const QString otherPage = m_other->pageWithServerID(pageID)->localID;
    QCOMPARE(sorted(textsOf(m_other->liveBlocks(otherPage))), sorted(synced));
    QHash<QString, qint64> keptIDs; // the service's ids of the blocks that stay, by text
    for (const QString &text : kept)
        keptIDs.insert(text, m_device->block(localIDs[text])->serverID);

    PageViewModel::Timing timing = EditorSteps::fastTiming();
    if (!inner.isEmpty())
        timing.blockFlush = std::chrono::hours(1);
    auto view = openView(page.localID, timing);
    QVERIFY(view);
    PresetConfirmer confirmer(true);
    view->setConfirmer(&confirmer);

    if (!inner.isEmpty()) {
        RichTextEditor *editor = view->row(localIDs[inner])->richEditor();
        QTest::mouseClick(editor->viewport(), Qt::LeftButton, {}, EditorSteps::pointAt(*editor, inner));
        QTRY_VERIFY(editor->hasFocus());
        QTest::keyClick(editor, Qt::Key_End);
        QTest::keyClicks(editor, QStringLiteral(" more"));
        QTRY_COMPARE(TestDevice::textOf(*m_device->block(localIDs[inner])), inner + QStringLiteral(" more"));
    }
    if (inFlight) {
        const QString text = removed.first();
        const QString before = texts.at(texts.indexOf(text) - 1);
        const QString added = write(*view, localIDs[before], text);
        QVERIFY(!added.isEmpty());
        localIDs.insert(text, added);
        // The service stores it at once; its answer waits.
        auto held = FakeService::Fault::held();
        held.dropAfterHandling = moment == Moment::answerLost;
        held.remaining = 1;
        held.method = "POST";
        m_fake.setFault(kBlocksPath, held);
        SyncEngine::syncQuietly(&m_device->engine());
        QTRY_COMPARE_WITH_TIMEOUT(journey::storedTexts(m_fake, pageID), texts, kWait);
        QVERIFY(m_other->sync());
        QCOMPARE(textsOf(m_other->liveBlocks(otherPage)), texts);
        QVERIFY(m_device->engine().isSyncing());
        QCOMPARE(m_device->block(added)->serverID, qint64(0));
    }

    QStringList removedIDs;
    for (const QString &text : removed)
        removedIDs << localIDs[text];
    remove(way, *view, removedIDs);
    if (QTest::currentTestFailed())
        return;
    for (const QString &id : std::as_const(removedIDs)) {
        QTRY_VERIFY(!view->row(id));
        QVERIFY(m_device->block(id)->deletedAt);
    }
    QCOMPARE(int(confirmer.questions().size()), removed.size() > 1 ? 1 : 0);
    QCOMPARE(journey::shownTexts(view.get()), kept);

    if (inFlight) {
        QCOMPARE(m_device->block(removedIDs.first())->serverID, qint64(0));
        if (moment == Moment::answerLost) {
            auto refused = FakeService::Fault::http(500, "{}");
            refused.remaining = 1;
            m_fake.setFault(QStringLiteral("/api/sync.php"), refused);
            // Retry waits pass at once: every reading of the clock is a minute later.
            auto now = std::make_shared<QDateTime>(QDateTime::currentDateTimeUtc());
            m_device->engine().setClock([now] { return *now = now->addSecs(61); });
        }
        m_fake.releaseHeldAnswers();
        QTRY_VERIFY_WITH_TIMEOUT(!m_device->engine().isSyncing(), kWait);
        if (moment == Moment::answerLost)
            QCOMPARE(m_device->block(removedIDs.first())->serverID, qint64(0));
    }
    // Left and opened again: the page queues what waits, then reads its blocks from the service
    // (after a lost answer, the removed block among them).
    if (!inner.isEmpty() || moment == Moment::answerLost) {
        view.reset();
        view = openView(page.localID, timing);
        QVERIFY(view);
        QCOMPARE(journey::shownTexts(view.get()), kept);
    }
    QTRY_VERIFY(!view->model().isBlockFlushPending());
    QVERIFY(settle(*m_device));

    // Gone from the service and from the other device; the rest as it was, under the same ids.
    const auto stored = m_fake.storedBlocks(pageID);
    QCOMPARE(journey::storedTexts(m_fake, pageID), kept);
    for (const FakeServiceState::Block &block : stored)
        QCOMPARE(block.id, keptIDs.value(FakeService::stringField(block.content, QStringLiteral("text"))));
    QVERIFY(m_other->sync());
    const std::vector<FNBlock> there = m_other->liveBlocks(otherPage);
    QCOMPARE(textsOf(there), kept);
    for (const FNBlock &block : there)
        QCOMPARE(block.serverID, keptIDs.value(TestDevice::textOf(block)));
    const std::vector<FNBlock> here = m_device->liveBlocks(page.localID);
    QCOMPARE(textsOf(here), kept);
    for (const FNBlock &block : here)
        QCOMPARE(block.serverID, keptIDs.value(TestDevice::textOf(block)));
    QCOMPARE(journey::shownTexts(view.get()), kept);
}

// Return at the end of a line that the other device rewrote while the line had the keyboard here:
// the new line comes after it, and the other device's words stay, here, on the service and there.
void TestBlockDeletionSync::returnAfterALineLeftAsItWasKeepsTheOtherDevicesWords()
{
    const QString before = QStringLiteral("first words");
    const QString theirs = QStringLiteral("words from the other device");
    const FNPage page = m_device->addPage(m_account.workspaceId, "Two hands");
    QVERIFY(settle(*m_device));
    const QString lineID = m_device->addBlock(page.localID, before, 0).localID;
    QVERIFY(m_device->queueBlockUpsert(page.localID));
    QVERIFY(settle(*m_device));
    const qint64 pageID = m_device->page(page.localID)->serverID;
    QVERIFY(m_other->sync());
    QVERIFY(m_other->pageWithServerID(pageID));
    const QString otherPage = m_other->pageWithServerID(pageID)->localID;

    auto view = openView(page.localID, EditorSteps::fastTiming());
    QVERIFY(view);
    RichTextEditor *editor = view->row(lineID)->richEditor();
    QTest::mouseClick(editor->viewport(), Qt::LeftButton, {}, EditorSteps::pointAt(*editor, before));
    QTRY_VERIFY(editor->hasFocus());

    const QString otherLine = m_other->liveBlocks(otherPage).front().localID;
    m_other->store().editBlock(otherLine, [&](FNBlock &b) {
        b.contentJSON = QStringLiteral("{\"text\":\"%1\"}").arg(theirs);
    });
    Outbox::of(m_other->store()).blockEdited(otherPage, otherLine, BlockFields::Content);
    QVERIFY(m_other->queueBlockUpsert(otherPage));
    QVERIFY(settle(*m_other));
    QVERIFY(settle(*m_device));
    QCOMPARE(TestDevice::textOf(*m_device->block(lineID)), theirs);

    QVERIFY(!write(*view, lineID, QStringLiteral("next line")).isEmpty());
    QVERIFY(settle(*m_device));
    QVERIFY(settle(*m_other));
    const QStringList both = sorted({theirs, QStringLiteral("next line")});
    QCOMPARE(TestDevice::textOf(*m_device->block(lineID)), theirs);
    QCOMPARE(sorted(journey::storedTexts(m_fake, pageID)), both);
    QCOMPARE(sorted(textsOf(m_other->liveBlocks(otherPage))), both);
}

QTEST_MAIN(TestBlockDeletionSync)
#include "tst_block_deletion_sync.moc"
