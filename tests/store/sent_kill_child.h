#pragma once

// Device A of the kill tests, run as a child process: what it is told through its environment, and
// what it does before the parent kills it.

#include "fake-service/fake_service.h"
#include "json/json_value.h"
#include "library/library_row_editor.h"
#include "store/block_fields.h"
#include "store/create_adoption.h"
#include "store/outbox.h"
#include "support/app_harness.h"
#include "support/killed_child.h"
#include "support/local_store_testing.h"
#include "support/task_outcome.h"
#include "support/test_device.h"

#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QTest>

#include <algorithm>
#include <memory>

using namespace std::chrono_literals;

namespace {

constexpr int kWait = 30000;
const QString kText = QStringLiteral("Notes");
const QString kByA = QStringLiteral("Notes by A");
const QString kByB = QStringLiteral("Notes by B");
const QString kNamed = QStringLiteral("Taxes");
const QString kRenamed = QStringLiteral("Taxes 2026");
const QString kShelf = QStringLiteral("Shelf");
const QString kBlocks = QStringLiteral("/api/blocks.php");
const QString kPages = QStringLiteral("/api/pages.php");
const QString kFolders = QStringLiteral("/api/folders.php");
const QString kFeed = QStringLiteral("/api/sync.php");
const QString kSecond = QStringLiteral("Second");

// The child process is device A; these tell it what to do. Its mode is "type" (an edit of the
// block), "add" (a new block), "page" or "folder" (a named create).
const char *const kModeVar = "PENROOST_SENT_MODE";
const char *const kOriginVar = "PENROOST_SENT_ORIGIN";
const char *const kTokenVar = "PENROOST_SENT_TOKEN";
const char *const kUserVar = "PENROOST_SENT_USER";
const char *const kFolderVar = "PENROOST_SENT_FOLDER";
const char *const kWorkspaceVar = "PENROOST_SENT_WORKSPACE";
const char *const kPageVar = "PENROOST_SENT_PAGE";   // server id
const char *const kBlockVar = "PENROOST_SENT_BLOCK"; // server id
// Set: the answer is let through and heard, and the kill comes before any save after it.
const char *const kHeardVar = "PENROOST_SENT_HEARD";

const QByteArray kSavedLine = "saved";

void signIn(AppHarness &app, const QString &token, qint64 userId)
{
    app.session.signIn(token, AuthUser{userId, QStringLiteral("Ann"), QStringLiteral("ann@example.com")});
}

// The child for a create: "renamed page" and "renamed folder" are named, sent, and renamed while the
// request is out, the rename saved; "untitled page" and "new folder" keep the name every device gives;
// "page in folder" is made in a folder already on the service and named at once, its create and move
// sent in one cycle. Heard (kHeardVar), the store writes nothing from the send on, as in a crash.
int actAsCreatingDevice(const QString &mode)
{
    const bool heard = qEnvironmentVariableIsSet(kHeardVar);
    AppDevice device(qEnvironmentVariable(kOriginVar), qEnvironmentVariable(kFolderVar));
    AppHarness app(device);
    signIn(app, qEnvironmentVariable(kTokenVar), qEnvironmentVariable(kUserVar).toLongLong());
    if (!runTask(app.engine.syncNow()).ok())
        return KilledChild::fail("first sync");
    const qint64 workspace = qEnvironmentVariable(kWorkspaceVar).toLongLong();
    const bool folder = mode.endsWith(QLatin1String("folder")) && mode != QLatin1String("page in folder");
    const bool renamed = mode.startsWith(QLatin1String("renamed"));
    QString localID;
    if (folder) {
        FNFolder f;
        f.name = mode == QLatin1String("new folder") ? QString::fromLatin1(kNewFolderName) : kNamed;
        f.workspaceServerID = workspace;
        app.store.upsertFolder(f);
        Outbox::of(app.store).folderCreate(f);
        localID = f.localID;
    } else {
        FNPage page;
        page.title = mode == QLatin1String("untitled page") ? QString::fromLatin1(kNewPageTitle) : kNamed;
        page.workspaceServerID = workspace;
        if (mode == QLatin1String("page in folder")) {
            FNFolder shelf;
            shelf.name = kShelf;
            shelf.workspaceServerID = workspace;
            app.store.upsertFolder(shelf);
            Outbox::of(app.store).folderCreate(shelf);
            if (!runTask(app.engine.syncNow()).ok() || app.store.folder(shelf.localID)->serverID == 0)
                return KilledChild::fail("folder not made");
            page.folderServerID = app.store.folder(shelf.localID)->serverID;
        }
        app.queuePageCreate(page);
        if (page.folderServerID != 0)
            Outbox::of(app.store).pageMove(page);
        localID = page.localID;
    }
    if (!QTest::qWaitFor([&] { return !app.store.isSavePending(); }, kWait))
        return KilledChild::fail("not saved");
    app.engine.setTickInterval(1h);
    if (renamed) {
        app.engine.start();
        // Noted before the request leaves, its body made by then.
        const QString journal = device.storeFolder() + QStringLiteral("/state.json.sending");
        if (!QTest::qWaitFor([&] { return QFileInfo(journal).size() > 0; }, kWait))
            return KilledChild::fail("nothing sent");
        LibraryRowEditor rows(app.store, app.engine);
        if (folder)
            rows.commitFolderRename(localID, kRenamed);
        else
            rows.commitPageRename(localID, kRenamed);
        if (!QTest::qWaitFor([&] { return !app.store.isSavePending(); }, kWait))
            return KilledChild::fail("rename not saved");
    }
    if (heard)
        LocalStoreTesting::abandon(app.store);
    KilledChild::say(kSavedLine);
    if (!renamed)
        app.engine.start(); // a cycle at once
    return KilledChild::idleUntilKilled();
}

// The block's new place, above the page's first block.
constexpr qint64 kAbove = -512;

const char *const kGoVar = "PENROOST_SENT_GO"; // a file the child waits for before its change
const QByteArray kReadyLine = "ready";

// The child of a filled-field kill: device A pulls the page, waits for its word, then types into
// the second block ("fill-type") or drags it above the first ("fill-drag") and syncs at once; nothing
// of that is ever saved, as when the kill comes before the debounced save.
int actAsFillingDevice(const QString &mode)
{
    AppDevice device(qEnvironmentVariable(kOriginVar), qEnvironmentVariable(kFolderVar));
    AppHarness app(device);
    signIn(app, qEnvironmentVariable(kTokenVar), qEnvironmentVariable(kUserVar).toLongLong());
    if (!runTask(app.engine.syncNow()).ok())
        return KilledChild::fail("first sync");
    const FNBlock *block = app.store.liveBlockWithServerID(qEnvironmentVariable(kBlockVar).toLongLong());
    if (!block)
        return KilledChild::fail("block not pulled");
    const QString blockID = block->localID;
    const QString pageID = block->pageLocalID;
    if (!QTest::qWaitFor([&] { return !app.store.isSavePending(); }, kWait))
        return KilledChild::fail("not saved");
    KilledChild::say(kReadyLine);
    if (!QTest::qWaitFor([&] { return QFile::exists(qEnvironmentVariable(kGoVar)); }, 2 * kWait))
        return KilledChild::fail("no word to go");
    if (mode == QLatin1String("fill-type")) {
        app.store.editBlock(blockID, [](FNBlock &b) {
            b.contentJSON = QString::fromUtf8(serializeJSONObject({{"text", kByA}}));
        });
        Outbox::of(app.store).blockEdited(pageID, blockID, BlockFields::Content);
    } else {
        app.store.editBlock(blockID, [](FNBlock &b) { b.position = kAbove; });
        Outbox::of(app.store).blockEdited(pageID, blockID, BlockFields::Place);
    }
    Outbox::of(app.store).pageBlocksUpsert(pageID);
    LocalStoreTesting::abandon(app.store);
    app.engine.setTickInterval(1h);
    app.engine.start();
    return KilledChild::idleUntilKilled();
}

// The child: device A on the data folder. It makes its change, waits until the change is saved with
// its operation queued, says so, and sends it; the parent kills it while the request is out.
int actAsDevice()
{
    const QString mode = qEnvironmentVariable(kModeVar);
    if (mode.startsWith(QLatin1String("fill-")))
        return actAsFillingDevice(mode);
    if (mode.contains(QLatin1Char(' ')))
        return actAsCreatingDevice(mode);
    AppDevice device(qEnvironmentVariable(kOriginVar), qEnvironmentVariable(kFolderVar));
    AppHarness app(device);
    signIn(app, qEnvironmentVariable(kTokenVar), qEnvironmentVariable(kUserVar).toLongLong());
    if (!runTask(app.engine.syncNow()).ok())
        return KilledChild::fail("first sync");
    if (mode == QLatin1String("type")) {
        const FNBlock *block = app.store.liveBlockWithServerID(qEnvironmentVariable(kBlockVar).toLongLong());
        if (!block)
            return KilledChild::fail("block not pulled");
        const QString blockID = block->localID;
        const QString pageID = block->pageLocalID;
        app.store.editBlock(blockID, [](FNBlock &b) {
            b.contentJSON = QString::fromUtf8(serializeJSONObject({{"text", kByA}}));
        });
        Outbox::of(app.store).blockEdited(pageID, blockID, BlockFields::Content);
        Outbox::of(app.store).pageBlocksUpsert(pageID);
    } else if (mode == QLatin1String("add")) {
        const FNPage *page = app.store.pageWithServerID(qEnvironmentVariable(kPageVar).toLongLong());
        if (!page)
            return KilledChild::fail("page not pulled");
        FNBlock added;
        added.pageLocalID = page->localID;
        added.pageServerID = page->serverID;
        added.type = QStringLiteral("text");
        added.contentJSON = QString::fromUtf8(serializeJSONObject({{"text", kByA}}));
        added.position = 1024;
        app.store.upsertBlock(added);
        Outbox::of(app.store).blockEdited(added.pageLocalID, added.localID, BlockFields::All);
        Outbox::of(app.store).pageBlocksUpsert(added.pageLocalID);
    } else if (mode == QLatin1String("page")) {
        FNPage page;
        page.title = kNamed;
        page.workspaceServerID = qEnvironmentVariable(kWorkspaceVar).toLongLong();
        app.queuePageCreate(page);
    } else {
        FNFolder folder;
        folder.name = kNamed;
        folder.workspaceServerID = qEnvironmentVariable(kWorkspaceVar).toLongLong();
        app.store.upsertFolder(folder);
        Outbox::of(app.store).folderCreate(folder);
    }
    if (!QTest::qWaitFor([&] { return !app.store.isSavePending(); }, kWait))
        return KilledChild::fail("not saved");
    KilledChild::say(kSavedLine);
    app.engine.setTickInterval(1h);
    app.engine.start(); // a cycle at once
    return KilledChild::idleUntilKilled();
}

} // namespace
