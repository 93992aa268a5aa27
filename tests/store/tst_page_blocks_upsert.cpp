#include "store/local_store.h"
#include "store/page_blocks_upsert.h"

#include <QTemporaryDir>
#include <QTest>

namespace {

// One block of the page, named by its local id.
struct Spec {
    QString name;
    qint64 serverID = 0;
    qint64 position = 0;
    QString parent;            // the parent's name: nested by local id
    qint64 parentServerID = 0; // nested by server id alone
    bool deleted = false;
    bool edited = false;
    bool badContent = false;
};

Spec block(const QString &name, qint64 serverID, qint64 position)
{
    return {name, serverID, position};
}

Spec edited(Spec s)
{
    s.edited = true;
    return s;
}

Spec under(Spec s, const QString &parent)
{
    s.parent = parent;
    return s;
}

Spec underServerID(Spec s, qint64 parentServerID)
{
    s.parentServerID = parentServerID;
    return s;
}

Spec deleted(Spec s)
{
    s.deleted = true;
    return s;
}

Spec unreadable(Spec s)
{
    s.badContent = true;
    return s;
}

constexpr qint64 kPageServerID = 5;

} // namespace

Q_DECLARE_METATYPE(QList<Spec>)

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
    QTest::addColumn<QList<Spec>>("blocks");
    QTest::addColumn<QStringList>("sent");       // in the order sent
    QTest::addColumn<QList<qint64>>("parentIDs"); // each sent block's parent on the service, 0 for none
    QTest::addColumn<int>("waiting");

    QTest::newRow("only the edited of the blocks on the service")
        << QList<Spec>{block("a", 11, 0), edited(block("b", 12, 1)), block("c", 13, 2)}
        << QStringList{"b"} << QList<qint64>{0} << 0;
    QTest::newRow("a block not on the service, edited or not")
        << QList<Spec>{block("a", 11, 0), block("new", 0, 1)} << QStringList{"new"} << QList<qint64>{0} << 0;
    QTest::newRow("in position order, not stored order")
        << QList<Spec>{block("late", 0, 9), edited(block("early", 12, 1)), block("mid", 0, 4)}
        << QStringList{"early", "mid", "late"} << QList<qint64>{0, 0, 0} << 0;
    QTest::newRow("a child waits for its parent to reach the service")
        << QList<Spec>{block("parent", 0, 0), under(block("child", 0, 1), "parent")} << QStringList{"parent"}
        << QList<qint64>{0} << 1;
    QTest::newRow("an edited child goes under its parent's service id")
        << QList<Spec>{block("parent", 77, 0), edited(under(block("child", 78, 1), "parent"))}
        << QStringList{"child"} << QList<qint64>{77} << 0;
    QTest::newRow("a child of a parent elsewhere keeps its stored parent id")
        << QList<Spec>{edited(underServerID(under(block("child", 78, 1), "gone-elsewhere"), 300))}
        << QStringList{"child"} << QList<qint64>{300} << 0;
    QTest::newRow("blocks under a block deleted here stay out, at any depth")
        << QList<Spec>{deleted(block("parent", 50, 0)), edited(under(block("child", 51, 1), "parent")),
                       under(block("grandchild", 0, 2), "child"), block("beside", 0, 3)}
        << QStringList{"beside"} << QList<qint64>{0} << 0;
    QTest::newRow("a grandchild stored before its parent stays out too")
        << QList<Spec>{edited(under(block("grandchild", 53, 2), "child")), deleted(block("parent", 50, 0)),
                       edited(under(block("child", 51, 1), "parent")), block("beside", 0, 3)}
        << QStringList{"beside"} << QList<qint64>{0} << 0;
    QTest::newRow("a grandchild under a removed child's service id stays out")
        << QList<Spec>{deleted(block("parent", 50, 0)), edited(under(block("child", 51, 1), "parent")),
                       edited(underServerID(block("grandchild", 52, 2), 51))}
        << QStringList{} << QList<qint64>{} << 0;
    QTest::newRow("equal positions keep their stored order")
        << QList<Spec>{block("first", 0, 3), block("second", 0, 3), block("before", 0, 1)}
        << QStringList{"before", "first", "second"} << QList<qint64>{0, 0, 0} << 0;
    QTest::newRow("under a deleted block known by its service id alone")
        << QList<Spec>{deleted(block("parent", 50, 0)), edited(underServerID(block("child", 51, 1), 50))}
        << QStringList{} << QList<qint64>{} << 0;
    QTest::newRow("a block deleted before it reached the service holds nothing back")
        << QList<Spec>{deleted(block("never sent", 0, 0)), block("new", 0, 1), edited(block("top", 12, 2))}
        << QStringList{"new", "top"} << QList<qint64>{0, 0} << 0;
    QTest::newRow("a deleted copy of a block still live keeps its children")
        << QList<Spec>{deleted(block("old copy", 50, 0)), block("live", 50, 1),
                       underServerID(block("child", 0, 2), 50)}
        << QStringList{"child"} << QList<qint64>{50} << 0;
    QTest::newRow("content that does not read stays out")
        << QList<Spec>{unreadable(block("broken", 0, 0)), block("fine", 0, 1)} << QStringList{"fine"}
        << QList<qint64>{0} << 0;
}

void TestPageBlocksUpsert::carriesWhatTheServiceLacks()
{
    QFETCH(QList<Spec>, blocks);
    QFETCH(QStringList, sent);
    QFETCH(QList<qint64>, parentIDs);
    QFETCH(int, waiting);

    QTemporaryDir dir;
    LocalStore store(dir.path());
    QString pageLocalID;
    QSet<QString> editedIDs;
    store.change([&](StoreState &s) {
        FNPage page;
        page.serverID = kPageServerID;
        page.title = QStringLiteral("Page");
        pageLocalID = page.localID;
        s.pages.push_back(page);
        for (const Spec &spec : blocks) {
            FNBlock b;
            b.localID = spec.name;
            b.serverID = spec.serverID;
            b.pageServerID = kPageServerID;
            b.pageLocalID = page.localID;
            b.parentBlockLocalID = spec.parent;
            b.parentBlockServerID = spec.parentServerID;
            b.type = QStringLiteral("text");
            b.contentJSON = spec.badContent ? QStringLiteral("[1,")
                                            : QStringLiteral(R"({"text":"%1"})").arg(spec.name);
            b.position = spec.position;
            if (spec.deleted)
                b.deletedAt = QDateTime::currentDateTimeUtc();
            s.blocks.push_back(b);
            if (spec.edited)
                editedIDs.insert(spec.name);
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
