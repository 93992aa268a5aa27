#include "api/wire/pages.h"
#include "fake-service/fake_service.h"
#include "store/local_store.h"
#include "support/local_store_testing.h"
#include "support/test_device.h"

#include <QTemporaryDir>
#include <QTest>

#include <random>

namespace {

constexpr std::chrono::milliseconds kNever{3600 * 1000};

// What a scan of the lists finds, to hold the indexes against.
std::vector<const FNBlock *> scanBlocksOf(const LocalStore &store, const QString &pageLocalID)
{
    std::vector<const FNBlock *> found;
    for (const FNBlock &b : store.state().blocks) {
        if (!pageLocalID.isEmpty() && b.pageLocalID == pageLocalID)
            found.push_back(&b);
    }
    return found;
}

std::vector<const FNPage *> scanChildrenOf(const LocalStore &store, qint64 parent)
{
    std::vector<const FNPage *> found;
    for (const FNPage &p : store.state().pages) {
        if (parent != 0 && p.parentPageServerID == parent)
            found.push_back(&p);
    }
    return found;
}

// Every server id the records hold.
QList<qint64> serverIDs(const LocalStore &store)
{
    QList<qint64> ids{0};
    for (const FNPage &p : store.state().pages)
        ids << p.serverID << p.parentPageServerID;
    for (const FNBlock &b : store.state().blocks)
        ids << b.serverID;
    return ids;
}

template <typename List>
const typename List::value_type *scanFirstLive(const List &list, qint64 serverID)
{
    using T = typename List::value_type;
    for (const T &r : list) {
        if (serverID != 0 && r.serverID == serverID && !r.deletedAt)
            return &r;
    }
    return nullptr;
}

// Every index of the store against a scan, for the keys the test uses.
bool agree(const LocalStore &store, const QStringList &pageIDs, const QList<qint64> &serverIDs)
{
    for (const QString &id : pageIDs) {
        if (store.blocksOfPage(id) != scanBlocksOf(store, id)) {
            qWarning() << "blocks of" << id;
            return false;
        }
    }
    for (const qint64 s : serverIDs) {
        if (store.childPages(s) != scanChildrenOf(store, s)) {
            qWarning() << "children of" << s;
            return false;
        }
        if (store.livePageWithServerID(s) != scanFirstLive(store.state().pages, s) ||
            store.liveBlockWithServerID(s) != scanFirstLive(store.state().blocks, s)) {
            qWarning() << "live record" << s;
            return false;
        }
    }
    return true;
}

// Every record found by its local id and by its server id as one pass over the list finds it.
template <typename List, typename ByLocal, typename ByServer>
bool idsAgree(const List &list, ByLocal byLocal, ByServer byServer)
{
    using T = typename List::value_type;
    QHash<QString, const T *> firstByLocal;
    QHash<qint64, const T *> firstByServer, firstLiveByServer;
    for (const T &r : list) {
        firstByLocal.insert(r.localID, firstByLocal.value(r.localID, &r));
        if (r.serverID == 0)
            continue;
        firstByServer.insert(r.serverID, firstByServer.value(r.serverID, &r));
        if (!r.deletedAt)
            firstLiveByServer.insert(r.serverID, firstLiveByServer.value(r.serverID, &r));
    }
    for (const T &r : list) {
        if (byLocal(r.localID) != firstByLocal.value(r.localID)) {
            qWarning() << "local id" << r.localID;
            return false;
        }
        if (r.serverID != 0 &&
            byServer(r.serverID) != firstLiveByServer.value(r.serverID, firstByServer.value(r.serverID))) {
            qWarning() << "server id" << r.serverID;
            return false;
        }
    }
    return byLocal(QStringLiteral("none")) == nullptr;
}

// The same for the blocks of each page and the children of each parent.
bool groupsAgree(const LocalStore &store)
{
    QHash<QString, std::vector<const FNBlock *>> onPage;
    for (const FNBlock &b : store.state().blocks) {
        if (!b.pageLocalID.isEmpty())
            onPage[b.pageLocalID].push_back(&b);
    }
    QHash<qint64, std::vector<const FNPage *>> children;
    for (const FNPage &p : store.state().pages) {
        if (p.parentPageServerID != 0)
            children[p.parentPageServerID].push_back(&p);
    }
    for (const FNPage &p : store.state().pages) {
        if (store.blocksOfPage(p.localID) != onPage.value(p.localID) ||
            store.childPages(p.serverID) != children.value(p.serverID)) {
            qWarning() << "blocks or children of" << p.localID;
            return false;
        }
    }
    return true;
}

bool allAgree(const LocalStore &store)
{
    const StoreState &s = store.state();
    return groupsAgree(store) &&
           idsAgree(
               s.blocks, [&](const QString &id) { return store.block(id); },
               [&](qint64 id) { return store.blockWithServerID(id); }) &&
           idsAgree(
               s.pages, [&](const QString &id) { return store.page(id); },
               [&](qint64 id) { return store.pageWithServerID(id); }) &&
           idsAgree(
               s.folders, [&](const QString &id) { return store.folder(id); },
               [&](qint64 id) { return store.folderWithServerID(id); });
}

} // namespace

// The store's indexes (server id to page and block, page to its blocks, parent to child pages)
// against plain scans, through every kind of change, a load and a pull.
class TestStoreIndexes : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void duplicateServerIDs_data();
    void duplicateServerIDs();
    void agreeThroughRandomChanges();
    void loadedStateIsIndexed();
    void agreeWhenEditedRightAfterALoad_data();
    void agreeWhenEditedRightAfterALoad();
    void agreeThroughAPull();
    void pageBlocksRevisionMovesWithTheListing_data();
    void pageBlocksRevisionMovesWithTheListing();

private:
    FakeService m_fake;
    FakeService::Account m_account;
};

void TestStoreIndexes::initTestCase()
{
    QVERIFY(m_fake.start());
    m_account = m_fake.createAccount("indexes@example.com", "secret12", "Indexes");
}

void TestStoreIndexes::duplicateServerIDs_data()
{
    // Three blocks share server id 7; which are deleted, and which one each lookup answers.
    QTest::addColumn<QList<bool>>("deleted");
    QTest::addColumn<int>("live");      // -1: none
    QTest::addColumn<int>("preferred"); // blockWithServerID
    QTest::newRow("all live: the first") << QList<bool>{false, false, false} << 0 << 0;
    QTest::newRow("first deleted: the second") << QList<bool>{true, false, false} << 1 << 1;
    QTest::newRow("only the last live") << QList<bool>{true, true, false} << 2 << 2;
    QTest::newRow("all deleted: no live one") << QList<bool>{true, true, true} << -1 << 0;
}

void TestStoreIndexes::duplicateServerIDs()
{
    QFETCH(QList<bool>, deleted);
    QFETCH(int, live);
    QFETCH(int, preferred);
    QTemporaryDir dir;
    LocalStore store(dir.path(), kNever);
    store.change([&](StoreState &s) {
        for (int i = 0; i < deleted.size(); ++i) {
            FNBlock b;
            b.serverID = 7;
            if (deleted[i])
                b.deletedAt = QDateTime::currentDateTimeUtc();
            s.blocks.push_back(b);
            FNPage p;
            p.serverID = 7;
            p.deletedAt = b.deletedAt;
            s.pages.push_back(p);
        }
    });
    const auto &blocks = store.state().blocks;
    const auto &pages = store.state().pages;
    QCOMPARE(store.liveBlockWithServerID(7), live < 0 ? nullptr : &blocks[size_t(live)]);
    QCOMPARE(store.livePageWithServerID(7), live < 0 ? nullptr : &pages[size_t(live)]);
    QCOMPARE(store.blockWithServerID(7), &blocks[size_t(preferred)]);
    QCOMPARE(store.pageWithServerID(7), &pages[size_t(preferred)]);
    QCOMPARE(store.blocksWithServerID(7).size(), size_t(deleted.size()));

    // Deleting and restoring through the store moves the answer without a rebuild.
    store.markBlockDeleted(blocks[0].localID);
    QCOMPARE(store.liveBlockWithServerID(7), scanFirstLive(blocks, 7));
    store.restorePage(pages.back().localID);
    QCOMPARE(store.livePageWithServerID(7), scanFirstLive(pages, 7));
    QVERIFY(!store.liveBlockWithServerID(0));
}

void TestStoreIndexes::agreeThroughRandomChanges()
{
    QTemporaryDir dir;
    LocalStore store(dir.path(), kNever);
    std::mt19937 rng(20261207);
    auto pick = [&](int n) { return int(rng() % unsigned(n)); };
    const QStringList pageIDs{"P0", "P1", "P2", "P3"};
    constexpr qint64 kMaxServerID = 5;
    const QList<qint64> serverIDs{0, 1, 2, 3, 4, 5};

    for (int step = 0; step < 3000; ++step) {
        const auto &blocks = store.state().blocks;
        const auto &pages = store.state().pages;
        switch (pick(11)) {
        case 0:
        case 1: { // a new block, or one matched by a server id
            FNBlock b;
            b.pageLocalID = pageIDs[pick(pageIDs.size())];
            b.serverID = pick(int(kMaxServerID) + 1);
            store.upsertBlock(b);
            break;
        }
        case 2: // a block moves to another page
            if (!blocks.empty())
                store.editBlock(blocks[size_t(pick(int(blocks.size())))].localID,
                                [&](FNBlock &b) { b.pageLocalID = pageIDs[pick(pageIDs.size())]; });
            break;
        case 3: // a block learns, changes or loses its server id
            if (!blocks.empty())
                store.editBlock(blocks[size_t(pick(int(blocks.size())))].localID,
                                [&](FNBlock &b) { b.serverID = pick(int(kMaxServerID) + 1); });
            break;
        case 4:
            if (!blocks.empty())
                store.markBlockDeleted(blocks[size_t(pick(int(blocks.size())))].localID);
            break;
        case 5: { // a restore through an upsert, as the editor does
            if (blocks.empty())
                break;
            FNBlock b = blocks[size_t(pick(int(blocks.size())))];
            b.deletedAt.reset();
            store.upsertBlock(b);
            break;
        }
        case 6: { // a page, new or with a new parent
            FNPage p = pages.empty() || pick(2) ? FNPage{} : pages[size_t(pick(int(pages.size())))];
            p.serverID = pick(int(kMaxServerID) + 1);
            p.parentPageServerID = pick(int(kMaxServerID) + 1);
            store.upsertPage(p);
            break;
        }
        case 7:
            if (!pages.empty()) {
                const QString id = pages[size_t(pick(int(pages.size())))].localID;
                pick(2) ? store.markPageDeleted(id) : store.restorePage(id);
            }
            break;
        case 8: { // blocks fresh from the service
            std::vector<FNBlock> fresh(size_t(pick(3) + 1));
            for (FNBlock &b : fresh) {
                b.pageLocalID = pageIDs[pick(pageIDs.size())];
                b.serverID = pick(int(kMaxServerID) + 1);
            }
            store.appendBlocks(fresh);
            break;
        }
        case 9: // a bulk edit that shifts positions
            if (!blocks.empty()) {
                const int i = pick(int(blocks.size()));
                store.change([i](StoreState &s) { s.blocks.erase(s.blocks.begin() + i); });
            }
            break;
        default: { // several blocks replaced at once (a renumbering)
            if (blocks.size() < 2)
                break;
            std::vector<FNBlock> edited{blocks[0], blocks[blocks.size() - 1]};
            edited[0].pageLocalID = pageIDs[pick(pageIDs.size())];
            store.replaceBlocks(edited);
            break;
        }
        }
        if (store.state().blocks.size() > 40)
            store.change([](StoreState &s) { s.blocks.erase(s.blocks.begin(), s.blocks.begin() + 15); });
        // Asked every few steps only: a lookup between changes builds what a change left stale.
        if (step % 3 == 0)
            QVERIFY2(agree(store, pageIDs, serverIDs), qPrintable(QString::number(step)));
    }
    store.reset();
    QVERIFY(store.blocksOfPage(QStringLiteral("P0")).empty());
}

void TestStoreIndexes::loadedStateIsIndexed()
{
    QTemporaryDir dir;
    {
        LocalStore store(dir.path(), kNever);
        FNPage parent;
        parent.serverID = 3;
        store.upsertPage(parent);
        FNPage child;
        child.serverID = 4;
        child.parentPageServerID = 3;
        store.upsertPage(child);
        for (int i = 0; i < 3; ++i) {
            FNBlock b;
            b.pageLocalID = i == 1 ? child.localID : parent.localID;
            b.serverID = 10 + i;
            store.upsertBlock(b);
        }
        store.save();
    }
    LocalStore loaded(dir.path(), kNever);
    const auto &pages = loaded.state().pages;
    QCOMPARE(loaded.childPages(3), std::vector<const FNPage *>{&pages[1]});
    QCOMPARE(loaded.blocksOfPage(pages[0].localID).size(), size_t(2));
    QCOMPARE(loaded.liveBlockWithServerID(11)->pageLocalID, pages[1].localID);
}

void TestStoreIndexes::agreeWhenEditedRightAfterALoad_data()
{
    QTest::addColumn<unsigned>("seed");
    QTest::addColumn<bool>("waitForIndexes"); // edits only once they are built
    QTest::newRow("seed 1") << 1u << false;
    QTest::newRow("seed 2") << 2u << false;
    QTest::newRow("seed 3") << 3u << false;
    QTest::newRow("seed 4") << 4u << false;
    QTest::newRow("seed 1, indexes built first") << 1u << true;
}

// The indexes are built beside the store's thread after a load; edits made meanwhile, at
// positions the building has or has not reached yet, leave every lookup as a scan answers it.
void TestStoreIndexes::agreeWhenEditedRightAfterALoad()
{
    QFETCH(unsigned, seed);
    QFETCH(bool, waitForIndexes);
    constexpr int kPages = 300;
    constexpr int kBlocksPerPage = 100;
    QTemporaryDir dir;
    QStringList pageIDs;
    {
        LocalStore seedStore(dir.path(), kNever);
        seedStore.change([&](StoreState &s) {
            for (int f = 0; f < 20; ++f) {
                FNFolder folder;
                folder.serverID = 1 + f % 15; // some share an id, as an older build could leave
                s.folders.push_back(folder);
            }
            for (int p = 0; p < kPages; ++p) {
                FNPage page;
                page.serverID = 100 + p;
                page.parentPageServerID = p % 3 == 0 ? 0 : 100 + p / 3;
                pageIDs << page.localID;
                for (int b = 0; b < kBlocksPerPage; ++b) {
                    FNBlock block;
                    block.pageLocalID = page.localID;
                    block.serverID = b % 4 == 0 ? 0 : 100000 + p * kBlocksPerPage + b;
                    block.position = b;
                    s.blocks.push_back(block);
                }
                s.pages.push_back(page);
            }
        });
        seedStore.save();
    }

    LocalStore store(dir.path(), kNever);
    if (waitForIndexes)
        LocalStoreTesting::waitForIndexes(store);
    std::mt19937 rng(seed);
    const auto pick = [&](size_t n) { return size_t(rng() % n); };
    const auto &blocks = store.state().blocks;
    // The first edits land while the building is under way; only the edits' own lookups wait for it.
    for (int step = 0; step < 300; ++step) {
        switch (rng() % 8) {
        case 0: { // blocks fresh from the service
            FNBlock b;
            b.pageLocalID = pageIDs[qsizetype(pick(size_t(kPages)))];
            b.serverID = 500000 + step;
            store.appendBlocks({b});
            break;
        }
        case 1: { // a block near the end moves to another page
            const QString id = blocks[blocks.size() - 1 - pick(500)].localID;
            store.editBlock(id,
                            [&](FNBlock &b) { b.pageLocalID = pageIDs[qsizetype(pick(size_t(kPages)))]; });
            break;
        }
        case 2: // a block learns or changes its server id
            store.editBlock(blocks[pick(blocks.size())].localID,
                            [&](FNBlock &b) { b.serverID = 100000 + qint64(pick(40000)); });
            break;
        case 3:
            store.markBlockDeleted(blocks[pick(blocks.size())].localID);
            break;
        case 4: { // a page under another parent, or a new page
            FNPage p = pick(3) == 0 ? FNPage{} : store.state().pages[pick(store.state().pages.size())];
            p.parentPageServerID = 100 + qint64(pick(size_t(kPages)));
            if (p.serverID == 0)
                p.serverID = 900 + step;
            store.upsertPage(p);
            break;
        }
        case 5: { // a renumbering
            std::vector<FNBlock> edited;
            for (int i = 0; i < 3; ++i) {
                FNBlock b = blocks[blocks.size() - 1 - pick(2000)];
                b.position += 1;
                b.pageLocalID = pageIDs[qsizetype(pick(size_t(kPages)))];
                edited.push_back(b);
            }
            store.replaceBlocks(edited);
            break;
        }
        case 6: // a bulk edit: the building starts over
            if (pick(10) == 0)
                store.change([&](StoreState &s) {
                    s.blocks.erase(s.blocks.begin() + qsizetype(pick(s.blocks.size())));
                });
            break;
        default: { // a block replaced by its server id under a new local id
            FNBlock b = blocks[pick(blocks.size())];
            if (b.serverID == 0)
                break;
            b.localID = newLocalID();
            store.upsertBlock(b);
        }
        }
    }
    QVERIFY(allAgree(store));
}

void TestStoreIndexes::agreeThroughAPull()
{
    TestDevice a(m_fake.origin(), m_account.token);
    TestDevice b(m_fake.origin(), m_fake.issueToken(m_account.userId, "second"));
    const FNPage home = a.addPage(m_account.workspaceId, "Home");
    const FNPage notes = a.addPage(m_account.workspaceId, "Notes");
    QVERIFY(a.sync());
    a.addBlock(home.localID, "one", 0);
    const FNBlock two = a.addBlock(home.localID, "two", 1);
    a.addBlock(notes.localID, "three", 0);
    QVERIFY(a.queueBlockUpsert(home.localID));
    QVERIFY(a.queueBlockUpsert(notes.localID));
    QVERIFY(a.sync());
    QVERIFY(b.sync());

    const qint64 homeID = a.page(home.localID)->serverID;
    const qint64 notesID = a.page(notes.localID)->serverID;
    const FNPage *bHome = b.pageWithServerID(homeID);
    const FNPage *bNotes = b.pageWithServerID(notesID);
    QVERIFY(bHome && bNotes);
    const QStringList bPages{bHome->localID, bNotes->localID};
    QCOMPARE(b.store().blocksOfPage(bPages[0]).size(), size_t(2));
    QVERIFY(agree(b.store(), bPages, serverIDs(b.store())));

    // On A: "two" leaves Home for Notes (deleted there, written anew here), and Notes moves
    // under Home.
    a.queueBlockDelete(two.localID);
    a.store().markBlockDeleted(two.localID);
    a.addBlock(notes.localID, "two", 1);
    QVERIFY(a.queueBlockUpsert(notes.localID));
    PagePatchReq move;
    move.parent_page_id = homeID;
    a.queuePageUpdate(notes.localID, move);
    QVERIFY(a.sync());
    QVERIFY(a.store().state().outbox.empty());
    QVERIFY(b.sync());

    const auto liveTexts = [&](const QString &pageLocalID) {
        QStringList texts;
        for (const FNBlock *blk : b.store().blocksOfPage(pageLocalID)) {
            if (!blk->deletedAt)
                texts << TestDevice::textOf(*blk);
        }
        return texts;
    };
    QCOMPARE(liveTexts(bPages[0]), QStringList{"one"});
    QCOMPARE(liveTexts(bPages[1]), (QStringList{"three", "two"}));
    QCOMPARE(b.store().childPages(homeID).size(), size_t(1));
    QCOMPARE(b.store().childPages(homeID).front()->localID, bPages[1]);
    QVERIFY(agree(b.store(), bPages, serverIDs(b.store())));
    for (const FNBlock *blk : b.store().blocksOfPage(bPages[0]))
        QCOMPARE(b.store().blockWithServerID(blk->serverID), blk);

    // Deleting and restoring the page on B keeps its children where they were.
    b.store().markPageDeleted(bPages[1]);
    QVERIFY(!b.store().livePageWithServerID(notesID));
    b.store().restorePage(bPages[1]);
    QCOMPARE(b.store().livePageWithServerID(notesID)->localID, bPages[1]);
    QVERIFY(agree(b.store(), bPages, serverIDs(b.store())));
}

using BlocksEdit = std::function<void(LocalStore &, const QString &block, const QString &otherPage)>;
Q_DECLARE_METATYPE(BlocksEdit)

void TestStoreIndexes::pageBlocksRevisionMovesWithTheListing_data()
{
    QTest::addColumn<BlocksEdit>("edit");
    QTest::addColumn<bool>("pageMoves");
    QTest::addColumn<bool>("otherMoves");
    const auto editing = [](std::function<void(FNBlock &)> change) {
        return BlocksEdit([change](LocalStore &s, const QString &block, const QString &) {
            QVERIFY(s.editBlock(block, change));
        });
    };
    QTest::newRow("its text") << editing([](FNBlock &b) {
        b.contentJSON = QStringLiteral(R"({"text":"x"})");
    }) << false << false;
    QTest::newRow("its text, upserted")
        << BlocksEdit([](LocalStore &s, const QString &block, const QString &) {
               FNBlock b = *s.block(block);
               b.contentJSON = QStringLiteral(R"({"text":"y"})");
               s.upsertBlock(b);
           })
        << false << false;
    QTest::newRow("its position") << editing([](FNBlock &b) { b.position = 9; }) << true << false;
    QTest::newRow("its kind") << editing([](FNBlock &b) { b.type = QStringLiteral("todo"); }) << true
                              << false;
    QTest::newRow("its parent") << editing([](FNBlock &b) { b.parentBlockLocalID = QStringLiteral("T"); })
                                << true << false;
    QTest::newRow("its server id") << editing([](FNBlock &b) { b.serverID = 77; }) << true << false;
    QTest::newRow("moved to the other page")
        << BlocksEdit([](LocalStore &s, const QString &block, const QString &other) {
               QVERIFY(s.editBlock(block, [&](FNBlock &b) { b.pageLocalID = other; }));
           })
        << true << true;
    QTest::newRow("deleted") << BlocksEdit([](LocalStore &s, const QString &block, const QString &) {
        s.markBlockDeleted(block);
    }) << true << false;
    QTest::newRow("a block appended to the other page")
        << BlocksEdit([](LocalStore &s, const QString &, const QString &other) {
               FNBlock b;
               b.pageLocalID = other;
               s.appendBlocks({b});
           })
        << false << true;
    QTest::newRow("a bulk edit") << BlocksEdit([](LocalStore &s, const QString &, const QString &) {
        s.change([](StoreState &) {});
    }) << true << true;
}

void TestStoreIndexes::pageBlocksRevisionMovesWithTheListing()
{
    QFETCH(BlocksEdit, edit);
    QFETCH(bool, pageMoves);
    QFETCH(bool, otherMoves);
    QTemporaryDir dir;
    LocalStore store(dir.path(), kNever);
    FNBlock block;
    block.pageLocalID = QStringLiteral("P");
    block.contentJSON = QStringLiteral(R"({"text":""})");
    store.upsertBlock(block);
    const quint64 page = store.pageBlocksRevision(QStringLiteral("P"));
    const quint64 other = store.pageBlocksRevision(QStringLiteral("Q"));
    edit(store, block.localID, QStringLiteral("Q"));
    QCOMPARE(store.pageBlocksRevision(QStringLiteral("P")) != page, pageMoves);
    QCOMPARE(store.pageBlocksRevision(QStringLiteral("Q")) != other, otherMoves);
}

QTEST_GUILESS_MAIN(TestStoreIndexes)
#include "tst_store_indexes.moc"
