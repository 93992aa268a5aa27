#include "api/wire/blocks.h"
#include "api/wire/pages.h"
#include "blocks/block_content.h"
#include "editor/page_block_list.h"
#include "editor/page_outbox.h"
#include "editor/server_block_merge.h"
#include "json/json_coder.h"
#include "store/block_fields.h"
#include "store/local_store.h"
#include "store/outbox.h"

#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace {

const QDateTime kOld = QDateTime(QDate(2020, 1, 1), QTime(0, 0), Qt::UTC);

struct BlockShape {
    BlockShape(const char *name, qint64 position, const char *parentLocal = "", qint64 parentServer = 0,
               qint64 serverID = 0)
        : name(QString::fromLatin1(name))
        , position(position)
        , parentLocal(QString::fromLatin1(parentLocal))
        , parentServer(parentServer)
        , serverID(serverID)
    {
    }
    BlockShape(const QString &name, qint64 position, const char *parentLocal)
        : BlockShape("", position, parentLocal)
    {
        this->name = name;
    }

    QString name;
    qint64 position;
    QString parentLocal;
    qint64 parentServer;
    qint64 serverID;
};

} // namespace

// The page's block list, its structural edits and the operations they queue, on a real store.
class TestPageBlockList : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();

    void derivedLists();
    void insertAfter_data();
    void insertAfter();
    void siblingsResolvedAsTheListShowsThem_data();
    void siblingsResolvedAsTheListShowsThem();
    void addInside_data();
    void addInside();
    void appendAfterEveryBlock();
    void deleteIfEmpty();
    void deleteUsesTheStoredServerID();
    void moveOnDrop_data();
    void moveOnDrop();
    void roomMovesTheFewestNearest_data();
    void roomMovesTheFewestNearest();
    void deleteSelection();
    void columnsDealChildrenInTurn();

    void upsertRequest();
    void upsertOutcomes();
    void pageUpdatePayloads();

    void mergeAddsOnlyUnknownBlocks();

private:
    // Stores the blocks of the page by name (their localIDs are the names) and returns the page.
    FNPage makePage(const QList<BlockShape> &blocks, qint64 pageServerID = 5);
    const FNBlock &block(const QString &localID) const;
    QList<qint64> positions(const QStringList &names) const;
    std::vector<FNSyncOp> outboxOf(const QString &entity, const QString &op) const;

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<LocalStore> m_store;
};

void TestPageBlockList::init()
{
    m_store.reset();
    m_dir = std::make_unique<QTemporaryDir>();
    m_store = std::make_unique<LocalStore>(m_dir->path(), std::chrono::milliseconds(5));
}

FNPage TestPageBlockList::makePage(const QList<BlockShape> &blocks, qint64 pageServerID)
{
    FNPage page;
    page.localID = QStringLiteral("P");
    page.serverID = pageServerID;
    m_store->upsertPage(page);
    for (const BlockShape &shape : blocks) {
        FNBlock b;
        b.localID = shape.name;
        b.serverID = shape.serverID;
        b.pageLocalID = page.localID;
        b.pageServerID = pageServerID;
        b.parentBlockLocalID = shape.parentLocal;
        b.parentBlockServerID = shape.parentServer;
        b.type = QStringLiteral("text");
        b.contentJSON = *BlockContent::encode({{QStringLiteral("text"), shape.name}});
        b.position = shape.position;
        b.updatedAt = kOld;
        m_store->upsertBlock(b);
    }
    return page;
}

const FNBlock &TestPageBlockList::block(const QString &localID) const
{
    return *m_store->block(localID);
}

QList<qint64> TestPageBlockList::positions(const QStringList &names) const
{
    QList<qint64> out;
    for (const QString &name : names)
        out << block(name).position;
    return out;
}

std::vector<FNSyncOp> TestPageBlockList::outboxOf(const QString &entity, const QString &op) const
{
    std::vector<FNSyncOp> out;
    for (const FNSyncOp &o : m_store->state().outbox) {
        if (o.entity == entity && o.op == op)
            out.push_back(o);
    }
    return out;
}

void TestPageBlockList::derivedLists()
{
    makePage({{"b", 1},
              {"a", 0},
              {"c", 1},
              {"byLocal", 0, "a"},
              {"byServer", 1, "", 77},
              {"localWins", 2, "x", 77},
              {"orphan", 0, "gone"}});
    FNBlock a = block("a");
    a.serverID = 77;
    m_store->upsertBlock(a);
    FNBlock deleted;
    deleted.localID = "deleted";
    deleted.pageLocalID = "P";
    deleted.deletedAt = kOld;
    m_store->upsertBlock(deleted);

    PageBlockList list(*m_store, "P");
    const auto ids = [](const std::vector<FNBlock> &blocks) {
        QStringList out;
        for (const FNBlock &b : blocks)
            out << b.localID;
        return out;
    };
    // Equal positions list by server id, those not on the service after, by local id; nested and
    // orphaned blocks are in the page's list.
    QCOMPARE(ids(list.pageBlocks()),
             QStringList({"a", "byLocal", "orphan", "b", "byServer", "c", "localWins"}));
    QCOMPARE(ids(list.topLevelBlocks()), QStringList({"a", "b", "c"}));
    // A local link names its parent even where the server link would match another.
    QCOMPARE(ids(list.childBlocks(block("a"))), QStringList({"byLocal", "byServer"}));
    // A parent without a server id has no server-linked children.
    FNBlock b = block("b");
    QVERIFY(list.childBlocks(b).empty());

    // A deleted page has no blocks.
    m_store->markPageDeleted("P");
    QVERIFY(!list.page());
    QVERIFY(list.pageBlocks().empty());
    QVERIFY(!list.insertBlockAfter(block("a")));
    QVERIFY(!list.addChildBlock(block("a")));
}

void TestPageBlockList::insertAfter_data()
{
    QTest::addColumn<QList<qint64>>("before"); // positions of a, b, c
    QTest::addColumn<QString>("after");
    // Where the new block may land: a small step past the block it follows, less a little so two
    // devices inserting at one spot rarely tie, or a gap and up to half another past the last.
    QTest::addColumn<qint64>("lowest");
    QTest::addColumn<qint64>("highest");
    QTest::addColumn<QList<qint64>>("others"); // positions of a, b, c afterwards
    QTest::addColumn<QStringList>("stamped");

    const QList<qint64> dense{0, 1, 2};
    const QList<qint64> gapped{0, 1024, 2048};
    QTest::newRow("after the last") << dense << "c" << qint64(1026) << qint64(1537) << dense << QStringList();
    // No room between neighbours: only the nearest block moves, out past the first where a gap's
    // worth of room is, and the rest keep their places.
    QTest::newRow("after the first, no room")
        << dense << "a" << qint64(-1023) << qint64(-1023) << QList<qint64>{-2047, 1, 2} << QStringList{"a"};
    QTest::newRow("after the first, room")
        << gapped << "a" << qint64(9) << qint64(16) << gapped << QStringList();
    QTest::newRow("after the middle, room")
        << gapped << "b" << qint64(1033) << qint64(1040) << gapped << QStringList();
    QTest::newRow("after the first, little room") << QList<qint64>{0, 6, 1024} << "a" << qint64(2)
                                                  << qint64(3) << QList<qint64>{0, 6, 1024} << QStringList();
    QTest::newRow("not among its siblings")
        << dense << "stranger" << qint64(1026) << qint64(1537) << dense << QStringList();
}

void TestPageBlockList::insertAfter()
{
    QFETCH(QList<qint64>, before);
    QFETCH(QString, after);
    QFETCH(qint64, lowest);
    QFETCH(qint64, highest);
    QFETCH(QList<qint64>, others);
    QFETCH(QStringList, stamped);

    makePage({{"a", before[0]}, {"b", before[1]}, {"c", before[2]}});
    PageBlockList list(*m_store, "P");
    FNBlock target;
    target.localID = after;
    if (after != QLatin1String("stranger"))
        target = block(after);
    const auto added = list.insertBlockAfter(target);
    QVERIFY(added);
    const FNBlock &made = block(*added);
    QVERIFY2(made.position >= lowest && made.position <= highest, qPrintable(QString::number(made.position)));
    QCOMPARE(made.type, QStringLiteral("text"));
    QCOMPARE(made.contentJSON, QStringLiteral("{\"text\":\"\"}"));
    QCOMPARE(made.pageServerID, qint64(5));
    QVERIFY(PageBlockList::isTopLevel(made));
    QCOMPARE(positions({"a", "b", "c"}), others);
    for (const QString &name : QStringList{"a", "b", "c"})
        QCOMPARE(block(name).updatedAt != kOld, stamped.contains(name));
}

void TestPageBlockList::siblingsResolvedAsTheListShowsThem_data()
{
    QTest::addColumn<QString>("edit");
    QTest::addColumn<QString>("target");

    QTest::newRow("insert after a local-linked child") << "insert"
                                                       << "c1";
    QTest::newRow("insert after a server-linked child") << "insert"
                                                        << "c2";
    QTest::newRow("insert after a child with both links") << "insert"
                                                          << "c3";
    QTest::newRow("add inside") << "addInside"
                                << "";
    QTest::newRow("delete a server-linked child") << "delete"
                                                  << "c2";
    QTest::newRow("delete a local-linked child") << "delete"
                                                 << "c1";
}

void TestPageBlockList::siblingsResolvedAsTheListShowsThem()
{
    QFETCH(QString, edit);
    QFETCH(QString, target);

    // One parent, its children linked in three forms (as made here, as fetched, as pulled).
    makePage({{"parent", 0, "", 0, 40},
              {"c1", 0, "parent"},
              {"c2", 1, "", 40},
              {"c3", 2, "parent", 40},
              {"top", 1}});
    PageBlockList list(*m_store, "P");
    if (edit == QLatin1String("insert"))
        QVERIFY(list.insertBlockAfter(block(target)));
    else if (edit == QLatin1String("addInside"))
        QVERIFY(list.addChildBlock(block("parent")));
    else
        QVERIFY(list.deleteBlockIfEmpty(block(target)));

    const std::vector<FNBlock> children = list.childBlocks(block("parent"));
    // One group, its positions never repeated: a group split by link form would each start over.
    for (size_t i = 1; i < children.size(); ++i)
        QVERIFY2(children[i - 1].position < children[i].position, qPrintable(children[i].localID));
    QCOMPARE(block("top").position, qint64(1));
}

void TestPageBlockList::addInside_data()
{
    QTest::addColumn<QList<qint64>>("childPositions");
    QTest::addColumn<qint64>("expected");

    QTest::newRow("no children") << QList<qint64>() << qint64(0);
    // A gap past the last, so a later insert or move beside it changes one block.
    QTest::newRow("children at 0, 1 and 5") << QList<qint64>{0, 1, 5} << qint64(1029);
}

void TestPageBlockList::addInside()
{
    QFETCH(QList<qint64>, childPositions);
    QFETCH(qint64, expected);

    QList<BlockShape> shapes{{"parent", 0, "", 0, 9}};
    for (int i = 0; i < childPositions.size(); ++i)
        shapes.append({QStringLiteral("child%1").arg(i), childPositions[i], "parent"});
    makePage(shapes);
    PageBlockList list(*m_store, "P");
    const auto added = list.addChildBlock(block("parent"));
    QVERIFY(added);
    // Up to half a gap further, so two devices adding at once rarely tie.
    const qint64 position = block(*added).position;
    QVERIFY2(position >= expected && position < expected + 512, qPrintable(QString::number(position)));
    QCOMPARE(block(*added).parentBlockLocalID, QStringLiteral("parent"));
    QCOMPARE(block(*added).parentBlockServerID, qint64(9));
    for (int i = 0; i < childPositions.size(); ++i)
        QCOMPARE(block(QStringLiteral("child%1").arg(i)).updatedAt, kOld); // nothing renumbered
}

void TestPageBlockList::appendAfterEveryBlock()
{
    makePage({});
    PageBlockList list(*m_store, "P");
    QCOMPARE(block(*list.appendBlock("text")).position, qint64(0));

    init();
    makePage({{"a", 0}, {"b", 1}, {"nested", 7, "a"}});
    PageBlockList again(*m_store, "P");
    const FNBlock made = block(*again.appendBlock("h1"));
    QVERIFY2(made.position >= 7 + 1024 && made.position < 7 + 1024 + 512, qPrintable(QString::number(made.position)));
    QCOMPARE(made.type, QStringLiteral("h1"));
    QVERIFY(PageBlockList::isTopLevel(made));
}

void TestPageBlockList::deleteIfEmpty()
{
    makePage({{"only", 0}, {"child", 0, "only"}});
    PageBlockList list(*m_store, "P");
    QVERIFY(!list.deleteBlockIfEmpty(block("only"))); // the page keeps its last top-level block
    QVERIFY(!block("only").deletedAt);
    QVERIFY(list.deleteBlockIfEmpty(block("child"))); // a parent's only child may go
    QVERIFY(block("child").deletedAt);
    QVERIFY(m_store->state().outbox.empty()); // never on the service: nothing to tell it

    init();
    makePage({{"first", 0, "", 0, 31}, {"second", 1}});
    PageBlockList two(*m_store, "P");
    QVERIFY(two.deleteBlockIfEmpty(block("first")));
    QCOMPARE(block("second").position, qint64(1)); // the gap keeps the order; nothing else changes
    const auto deletes = outboxOf("block", "delete");
    QCOMPARE(deletes.size(), size_t(1));
    QCOMPARE(deletes[0].refLocalID, QStringLiteral("first"));
    QCOMPARE(deletes[0].payloadJSON, QStringLiteral("{\"block_id\":31}"));
}

void TestPageBlockList::deleteUsesTheStoredServerID()
{
    // The row was built before the push acknowledged its block.
    makePage({{"a", 0}, {"b", 1}});
    const FNBlock asBuilt = block("b");
    FNBlock acknowledged = asBuilt;
    acknowledged.serverID = 64;
    m_store->upsertBlock(acknowledged);
    PageBlockList list(*m_store, "P");
    QVERIFY(list.deleteBlockIfEmpty(asBuilt));
    const auto deletes = outboxOf("block", "delete");
    QCOMPARE(deletes.size(), size_t(1));
    QCOMPARE(deletes[0].payloadJSON, QStringLiteral("{\"block_id\":64}"));
}

void TestPageBlockList::moveOnDrop_data()
{
    QTest::addColumn<QString>("dropped");
    QTest::addColumn<int>("target");
    QTest::addColumn<bool>("moved");
    QTest::addColumn<QStringList>("order");
    QTest::addColumn<QList<qint64>>("placed"); // the positions of `order` afterwards

    // Where the neighbours leave room only the dropped block changes; where not, the nearest block
    // moves too.
    QTest::newRow("onto a row further down")
        << "a" << 2 << true << QStringList{"b", "c", "a", "d"} << QList<qint64>{1, 2, 3, 5};
    QTest::newRow("onto a row further up, no room")
        << "d" << 1 << true << QStringList{"a", "d", "b", "c"} << QList<qint64>{-2047, -1023, 1, 2};
    QTest::newRow("to the top") << "c" << 0 << true << QStringList{"c", "a", "b", "d"}
                                << QList<qint64>{-1024, 0, 1, 5};
    QTest::newRow("onto its own row") << "b" << 1 << true << QStringList{"a", "b", "c", "d"}
                                      << QList<qint64>{0, 1, 2, 5};
    QTest::newRow("past the end") << "a" << 99 << true << QStringList{"b", "c", "d", "a"}
                                  << QList<qint64>{1, 2, 5, 1029};
    QTest::newRow("text that names no block")
        << "hello" << 0 << false << QStringList{"a", "b", "c", "d"} << QList<qint64>{0, 1, 2, 5};
    QTest::newRow("a nested block") << "nested" << 0 << false << QStringList{"a", "b", "c", "d"}
                                    << QList<qint64>{0, 1, 2, 5};
}

void TestPageBlockList::moveOnDrop()
{
    QFETCH(QString, dropped);
    QFETCH(int, target);
    QFETCH(bool, moved);
    QFETCH(QStringList, order);
    QFETCH(QList<qint64>, placed);

    makePage({{"a", 0}, {"b", 1}, {"c", 2}, {"d", 5}, {"nested", 0, "a"}});
    PageBlockList list(*m_store, "P");
    QCOMPARE(list.moveBlockOnDrop(dropped, target), moved);
    QStringList shown;
    for (const FNBlock &b : list.topLevelBlocks())
        shown << b.localID;
    QCOMPARE(shown, order);
    // A block dropped at either end lands up to half a gap further out.
    const QList<qint64> now = positions(order);
    for (qsizetype i = 0; i < order.size(); ++i) {
        const qint64 slack = order[i] == dropped && (i == 0 || i == order.size() - 1) && placed[i] != now[i] ? 512 : 1;
        QVERIFY2(qAbs(now[i] - placed[i]) < slack && (placed[i] <= 0 ? now[i] <= placed[i] : now[i] >= placed[i]),
                 qPrintable(QString::number(now[i])));
    }
    QCOMPARE(block("nested").position, qint64(0));
}

void TestPageBlockList::roomMovesTheFewestNearest_data()
{
    QTest::addColumn<QList<qint64>>("before"); // positions of b0, b1, ...
    QTest::addColumn<int>("after");            // the index of the block the new one follows
    QTest::addColumn<int>("mostMoved");

    QTest::newRow("a crowded run on a spaced page")
        << QList<qint64>{0, 1024, 2048, 2049, 2050, 2051, 3072, 4096, 5120} << 3 << 2;
    QTest::newRow("a page with no gaps, in the middle")
        << QList<qint64>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11} << 5 << 7;
    QList<qint64> typed{0};
    for (qint64 room = 1024; room > 1; room /= 2)
        typed << typed.back() + room / 2; // each line typed after the last halves the room
    typed << 1024 << 2048 << 3072;
    QTest::newRow("lines typed one after another") << typed << int(typed.size()) - 4 << 3;
    QList<qint64> numbered;
    for (qint64 i = 0; i < 40; ++i)
        numbered << i;
    QTest::newRow("numbered one apart, near the start") << numbered << 4 << 5;
    QTest::newRow("numbered one apart, near the end") << numbered << 36 << 3;
    QTest::newRow("numbered one apart, gaps to the far end")
        << (QList<qint64>{0, 1, 2, 3, 4, 5, 6, 1030, 2054}) << 2 << 3;
}

// Where the neighbours leave no room, the fewest blocks nearest the spot move, spread over the smallest
// neighbourhood that has room with room to spare; their new places are marked as made room for, and
// only theirs.
void TestPageBlockList::roomMovesTheFewestNearest()
{
    QFETCH(QList<qint64>, before);
    QFETCH(int, after);
    QFETCH(int, mostMoved);
    QList<BlockShape> shapes;
    QStringList names;
    for (qsizetype i = 0; i < before.size(); ++i) {
        names << QStringLiteral("b%1").arg(i);
        const QByteArray name = names.back().toLatin1();
        shapes.append(BlockShape(name.constData(), before[i], "", 0, 100 + i));
    }
    makePage(shapes);
    PageBlockList list(*m_store, "P");
    const auto added = list.insertBlockAfter(block(names[after]));
    QVERIFY(added);

    QStringList shown;
    for (const FNBlock &b : list.topLevelBlocks())
        shown << b.localID;
    QStringList meant = names;
    meant.insert(after + 1, *added);
    QCOMPARE(shown, meant);
    const QList<qint64> now = positions(names);
    int moved = 0;
    for (qsizetype i = 0; i < now.size(); ++i)
        moved += now[i] != before[i] ? 1 : 0;
    QVERIFY2(moved >= 1 && moved <= mostMoved, qPrintable(QString::number(moved)));
    // More lines fit at the spot before anything has to move again.
    const qint64 at = block(*added).position;
    QVERIFY(at - now[after] >= 32 && (after + 1 == now.size() || now[after + 1] - at >= 32));
    const auto marks = Outbox::of(*m_store).editedBlocks("P");
    QCOMPARE(marks.size(), qsizetype(moved));
    for (qsizetype i = 0; i < now.size(); ++i) {
        if (now[i] != before[i])
            QCOMPARE(marks.value(names[i]), qint64(BlockFields::Room));
    }
}

void TestPageBlockList::deleteSelection()
{
    makePage({{"a", 0, "", 0, 11}, {"b", 1}, {"c", 2, "", 0, 12}, {"d", 3}, {"e", 5}, {"child", 4, "a", 11}});
    PageBlockList list(*m_store, "P");
    QVERIFY(!list.deleteBlocks({"a", "b", "c"}));

    // Deletions only for what the service knows; the local-only block simply goes.
    const auto deletes = outboxOf("block", "delete");
    QCOMPARE(deletes.size(), size_t(2));
    QCOMPARE(deletes[0].payloadJSON, QStringLiteral("{\"block_id\":11}"));
    QCOMPARE(deletes[1].payloadJSON, QStringLiteral("{\"block_id\":12}"));
    QVERIFY(block("b").deletedAt);
    QVERIFY(!block("child").deletedAt); // nested blocks are not deleted with their parent

    // The rest keep their places: another device may be editing them.
    QCOMPARE(positions({"d", "child", "e"}), (QList<qint64>{3, 4, 5}));
    QCOMPARE(block("d").updatedAt, kOld);

    QVERIFY(list.deleteBlocks({"d", "child", "e"}));
    QVERIFY(list.pageBlocks().empty());
}

void TestPageBlockList::columnsDealChildrenInTurn()
{
    QList<BlockShape> shapes{{"cols", 0, "", 0, 3}};
    for (int i = 0; i < 7; ++i)
        shapes.append({QStringLiteral("k%1").arg(i), i, "cols"});
    makePage(shapes);
    PageBlockList list(*m_store, "P");
    const auto names = [&](int column) {
        QStringList out;
        for (const FNBlock &b : list.columnBlocks(block("cols"), column, 3))
            out << b.localID;
        return out;
    };
    QCOMPARE(names(0), QStringList({"k0", "k3", "k6"}));
    QCOMPARE(names(1), QStringList({"k1", "k4"}));
    QCOMPARE(names(2), QStringList({"k2", "k5"}));
}

// The request carries what changed here or is not on the service yet; everything else stays as the
// service holds it.
void TestPageBlockList::upsertRequest()
{
    makePage({{"top", 0, "", 0, 21},
              {"fresh", 1},
              {"child", 0, "top"},
              {"waiting", 0, "fresh"},
              {"orphan", 2, "gone"},
              {"fetched", 1, "", 21, 22},
              {"untouched", 3, "", 0, 23},
              {"unreadable", 4, "", 0, 24}});
    FNBlock broken = block("unreadable");
    broken.contentJSON = QStringLiteral(R"({"text":"kept text","n":1e400})");
    m_store->upsertBlock(broken);
    for (const char *edited : {"top", "fetched", "unreadable"})
        Outbox::of(*m_store).blockEdited("P", QString::fromLatin1(edited), BlockFields::All);

    PageBlockList list(*m_store, "P");
    PageOutbox outbox(list);
    int waiting = -1;
    const auto req = outbox.blocksUpsertRequest(&waiting);
    QVERIFY(req);
    QCOMPARE(req->page_id, qint64(5));
    QCOMPARE(waiting, 1); // "waiting" until "fresh" has an id
    QStringList sent;
    for (const BlockUpsertItem &item : req->blocks)
        sent << item.client_id;
    // "untouched" is the service's as it is; "unreadable" is never sent as an empty object.
    QCOMPARE(sent, QStringList({"top", "child", "fetched", "fresh", "orphan"}));

    const QString json = QString::fromUtf8(sharedJSONEncode(*req));
    QVERIFY(json.contains(
        QStringLiteral("{\"client_id\":\"top\",\"id\":21,\"type\":\"text\",\"content\":{\"text\":\"top\"},"
                       "\"position\":0}")));
    QVERIFY(json.contains(
        QStringLiteral("{\"client_id\":\"child\",\"type\":\"text\",\"content\":{\"text\":\"child\"},"
                       "\"position\":0,\"parent_block_id\":21}")));
    QVERIFY(json.contains(
        QStringLiteral("\"client_id\":\"fetched\",\"id\":22,\"type\":\"text\",\"content\":{\"text\":"
                       "\"fetched\"},\"position\":1,\"parent_block_id\":21}")));
    // A block whose parent is not on the page goes with it, at the top level.
    QVERIFY(json.contains(
        QStringLiteral("{\"client_id\":\"orphan\",\"type\":\"text\",\"content\":{\"text\":\"orphan\"},"
                       "\"position\":2}")));

    // Queued, the edits count as sent; the unreadable one waits for an edit that mends it.
    QCOMPARE(outbox.queueBlockUpserts().outcome, PageOutbox::Outcome::Queued);
    QCOMPARE(Outbox::of(*m_store).editedBlocks("P").keys(), QList<QString>({"unreadable"}));
    QCOMPARE(m_store->block("unreadable")->contentJSON, broken.contentJSON);
}

void TestPageBlockList::upsertOutcomes()
{
    using Outcome = PageOutbox::Outcome;
    PageBlockList list(*m_store, "P");
    PageOutbox outbox(list);
    QCOMPARE(outbox.queueBlockUpserts().outcome, Outcome::NoPage);

    makePage({{"a", 0}}, 0);
    QCOMPARE(outbox.queueBlockUpserts().outcome, Outcome::PageNotOnServer);
    QVERIFY(m_store->state().outbox.empty());

    init();
    makePage({});
    PageBlockList empty(*m_store, "P");
    QCOMPARE(PageOutbox(empty).queueBlockUpserts().outcome, Outcome::NothingToSend);
    QVERIFY(m_store->state().outbox.empty());

    init();
    makePage({{"a", 0}, {"b", 1}});
    PageBlockList two(*m_store, "P");
    QCOMPARE(PageOutbox(two).queueBlockUpserts().outcome, Outcome::Queued);
    const auto upserts = outboxOf("block", "upsert");
    QCOMPARE(upserts.size(), size_t(1));
    QCOMPARE(upserts[0].refLocalID, QStringLiteral("P"));
    QCOMPARE(upserts[0].attempts, qint64(0));
    const auto req = sharedJSONDecode<BlocksUpsertReq>(upserts[0].payloadJSON.toUtf8());
    QCOMPARE(req.blocks.size(), size_t(2));
}

void TestPageBlockList::pageUpdatePayloads()
{
    makePage({}, 0);
    PageBlockList list(*m_store, "P");
    PageOutbox outbox(list);
    outbox.queuePageTitle(0, QStringLiteral("Plan"));
    outbox.queuePageIcon(8, QString());
    const auto updates = outboxOf("page", "update");
    QCOMPARE(updates.size(), size_t(2));
    QCOMPARE(updates[0].refLocalID, QStringLiteral("P"));
    QCOMPARE(updates[0].payloadJSON, QStringLiteral("{\"page_id\":0,\"title\":\"Plan\"}"));
    QCOMPARE(updates[1].payloadJSON, QStringLiteral("{\"page_id\":8,\"icon\":\"\"}"));
}

void TestPageBlockList::mergeAddsOnlyUnknownBlocks()
{
    const FNPage page = makePage({{"local", 0, "", 0, 100}, {"gone", 1, "", 0, 101}});
    m_store->markBlockDeleted("gone");
    FNBlock elsewhere;
    elsewhere.localID = "elsewhere";
    elsewhere.pageLocalID = "Q";
    elsewhere.serverID = 102;
    m_store->upsertBlock(elsewhere);

    const auto dto = [](qint64 id, std::optional<qint64> parent, JSONObject content) {
        BlockDTO d;
        d.id = id;
        d.page_id = 5;
        d.parent_block_id = parent;
        d.type = QStringLiteral("mystery");
        d.content = std::move(content);
        d.position = 0;
        return d;
    };
    const std::vector<BlockDTO> reply{dto(100, {}, {}),
                                      dto(101, {}, {}),
                                      dto(102, {}, {}),
                                      dto(103, {}, {}),
                                      dto(104, 103, {{"text", QStringLiteral("hi")}}),
                                      dto(103, {}, {})};
    QCOMPARE(ServerBlockMerge::mergeServerBlocks(*m_store, page, reply), 2);
    QCOMPARE(ServerBlockMerge::mergeServerBlocks(*m_store, page, reply), 0); // a second open adds nothing

    const FNBlock &top = block(m_store->blockWithServerID(103)->localID);
    QCOMPARE(top.contentJSON, QStringLiteral("{}"));
    QCOMPARE(top.type, QStringLiteral("mystery"));
    QCOMPARE(top.pageLocalID, QStringLiteral("P"));
    QCOMPARE(top.pageServerID, qint64(5));
    QVERIFY(PageBlockList::isTopLevel(top));
    const FNBlock &child = *m_store->blockWithServerID(104);
    QCOMPARE(child.parentBlockServerID, qint64(103));
    QVERIFY(child.parentBlockLocalID.isEmpty());
    QCOMPARE(child.contentJSON, QStringLiteral("{\"text\":\"hi\"}"));
    QCOMPARE(PageBlockList(*m_store, "P").childBlocks(top).size(), size_t(1));
    QVERIFY(m_store->state().outbox.empty());
}

QTEST_GUILESS_MAIN(TestPageBlockList)
#include "tst_page_block_list.moc"
