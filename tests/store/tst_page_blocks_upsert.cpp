#include "store/local_store.h"
#include "store/block_fields.h"
#include "store/page_blocks_upsert.h"

#include <QTemporaryDir>
#include <QTest>

namespace {

// One block of the page, named by its local id.
struct StoredBlock {
    QString name;
    qint64 serverID = 0;
    qint64 position = 0;
    QString parent;            // the parent's name: nested by local id
    qint64 parentServerID = 0; // nested by server id alone
    bool deleted = false;
    bool edited = false;
    bool badContent = false;
};

StoredBlock block(const QString &name, qint64 serverID, qint64 position)
{
    return {name, serverID, position};
}

StoredBlock edited(StoredBlock s)
{
    s.edited = true;
    return s;
}

StoredBlock under(StoredBlock s, const QString &parent)
{
    s.parent = parent;
    return s;
}

StoredBlock underServerID(StoredBlock s, qint64 parentServerID)
{
    s.parentServerID = parentServerID;
    return s;
}

StoredBlock deleted(StoredBlock s)
{
    s.deleted = true;
    return s;
}

StoredBlock unreadable(StoredBlock s)
{
    s.badContent = true;
    return s;
}

constexpr qint64 kPageServerID = 5;

} // namespace

Q_DECLARE_METATYPE(QList<StoredBlock>)

// Which of a page's blocks its upsert carries: what changed here or is not on the service yet, in
// position order, with nested blocks waiting for their parents.
class TestPageBlocksUpsert : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void carriesWhatTheServiceLacks_data();
    void carriesWhatTheServiceLacks();
    void noneForAPageNotOnTheService();
};

void TestPageBlocksUpsert::carriesWhatTheServiceLacks_data()
{
    QTest::addColumn<QList<StoredBlock>>("blocks");
    QTest::addColumn<QStringList>("sent");       // in the order sent
    QTest::addColumn<QList<qint64>>("parentIDs"); // each sent block's parent on the service, 0 for none
    QTest::addColumn<int>("waiting");

    QTest::newRow("only the edited of the blocks on the service")
        << QList<StoredBlock>{block("a", 11, 0), edited(block("b", 12, 1)), block("c", 13, 2)}
        << QStringList{"b"} << QList<qint64>{0} << 0;
    QTest::newRow("a block not on the service, edited or not")
        << QList<StoredBlock>{block("a", 11, 0), block("new", 0, 1)} << QStringList{"new"} << QList<qint64>{0} << 0;
    QTest::newRow("in position order, not stored order")
        << QList<StoredBlock>{block("late", 0, 9), edited(block("early", 12, 1)), block("mid", 0, 4)}
        << QStringList{"early", "mid", "late"} << QList<qint64>{0, 0, 0} << 0;
    QTest::newRow("a child waits for its parent to reach the service")
        << QList<StoredBlock>{block("parent", 0, 0), under(block("child", 0, 1), "parent")} << QStringList{"parent"}
        << QList<qint64>{0} << 1;
    QTest::newRow("an edited child goes under its parent's service id")
        << QList<StoredBlock>{block("parent", 77, 0), edited(under(block("child", 78, 1), "parent"))}
        << QStringList{"child"} << QList<qint64>{77} << 0;
    QTest::newRow("a child of a parent elsewhere keeps its stored parent id")
        << QList<StoredBlock>{edited(underServerID(under(block("child", 78, 1), "gone-elsewhere"), 300))}
        << QStringList{"child"} << QList<qint64>{300} << 0;
    QTest::newRow("blocks under a block deleted here stay out, at any depth")
        << QList<StoredBlock>{deleted(block("parent", 50, 0)), edited(under(block("child", 51, 1), "parent")),
                       under(block("grandchild", 0, 2), "child"), block("beside", 0, 3)}
        << QStringList{"beside"} << QList<qint64>{0} << 0;
    QTest::newRow("a grandchild stored before its parent stays out too")
        << QList<StoredBlock>{edited(under(block("grandchild", 53, 2), "child")), deleted(block("parent", 50, 0)),
                       edited(under(block("child", 51, 1), "parent")), block("beside", 0, 3)}
        << QStringList{"beside"} << QList<qint64>{0} << 0;
    QTest::newRow("a grandchild under a removed child's service id stays out")
        << QList<StoredBlock>{deleted(block("parent", 50, 0)), edited(under(block("child", 51, 1), "parent")),
                       edited(underServerID(block("grandchild", 52, 2), 51))}
        << QStringList{} << QList<qint64>{} << 0;
    QTest::newRow("equal positions keep their stored order")
        << QList<StoredBlock>{block("first", 0, 3), block("second", 0, 3), block("before", 0, 1)}
        << QStringList{"before", "first", "second"} << QList<qint64>{0, 0, 0} << 0;
    QTest::newRow("under a deleted block known by its service id alone")
        << QList<StoredBlock>{deleted(block("parent", 50, 0)), edited(underServerID(block("child", 51, 1), 50))}
        << QStringList{} << QList<qint64>{} << 0;
    QTest::newRow("a block deleted before it reached the service holds nothing back")
        << QList<StoredBlock>{deleted(block("never sent", 0, 0)), block("new", 0, 1), edited(block("top", 12, 2))}
        << QStringList{"new", "top"} << QList<qint64>{0, 0} << 0;
    QTest::newRow("a deleted copy of a block still live keeps its children")
        << QList<StoredBlock>{deleted(block("old copy", 50, 0)), block("live", 50, 1),
                       underServerID(block("child", 0, 2), 50)}
        << QStringList{"child"} << QList<qint64>{50} << 0;
    QTest::newRow("content that does not read stays out")
        << QList<StoredBlock>{unreadable(block("broken", 0, 0)), block("fine", 0, 1)} << QStringList{"fine"}
        << QList<qint64>{0} << 0;
}

void TestPageBlocksUpsert::carriesWhatTheServiceLacks()
{
    QFETCH(QList<StoredBlock>, blocks);
    QFETCH(QStringList, sent);
    QFETCH(QList<qint64>, parentIDs);
    QFETCH(int, waiting);

    QTemporaryDir dir;
    LocalStore store(dir.path());
    QString pageLocalID;
    QHash<QString, qint64> editedIDs;
    store.change([&](StoreState &s) {
        FNPage page;
        page.serverID = kPageServerID;
        page.title = QStringLiteral("Page");
        pageLocalID = page.localID;
        s.pages.push_back(page);
        for (const StoredBlock &stored : blocks) {
            FNBlock b;
            b.localID = stored.name;
            b.serverID = stored.serverID;
            b.pageServerID = kPageServerID;
            b.pageLocalID = page.localID;
            b.parentBlockLocalID = stored.parent;
            b.parentBlockServerID = stored.parentServerID;
            b.type = QStringLiteral("text");
            b.contentJSON = stored.badContent ? QStringLiteral("[1,")
                                              : QStringLiteral(R"({"text":"%1"})").arg(stored.name);
            b.position = stored.position;
            if (stored.deleted)
                b.deletedAt = QDateTime::currentDateTimeUtc();
            s.blocks.push_back(b);
            if (stored.edited)
                editedIDs.insert(stored.name, BlockFields::All);
        }
    });

    const auto upsert = storedBlocksUpsert(store, pageLocalID, editedIDs);
    QVERIFY(upsert);
    QCOMPARE(upsert->req.page_id, kPageServerID);
    QStringList names;
    QList<qint64> parents;
    for (const BlockUpsertItem &item : upsert->req.blocks) {
        names.append(item.client_id);
        parents.append(item.parent_block_id.value_or(0));
        const FNBlock *stored = store.block(item.client_id);
        QVERIFY(stored);
        QCOMPARE(item.id.value_or(0), stored->serverID);
        QCOMPARE(item.content.at(QStringLiteral("text")).toString(), item.client_id);
    }
    QCOMPARE(names, sent);
    QCOMPARE(upsert->carried, sent);
    QCOMPARE(parents, parentIDs);
    QCOMPARE(upsert->waitingForParent, waiting);
}

void TestPageBlocksUpsert::noneForAPageNotOnTheService()
{
    QTemporaryDir dir;
    LocalStore store(dir.path());
    FNPage page;
    page.title = QStringLiteral("Offline");
    store.upsertPage(page);
    QVERIFY(!storedBlocksUpsert(store, page.localID, {}));
    QVERIFY(!storedBlocksUpsert(store, QStringLiteral("no such page"), {}));
}

QTEST_GUILESS_MAIN(TestPageBlocksUpsert)
#include "tst_page_blocks_upsert.moc"
