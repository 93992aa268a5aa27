#include "local_store_samples.h"
#include "store/block_chunks.h"
#include "store/local_store.h"
#include "support/local_store_testing.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

#include <rapidjson/document.h>
#include <rapidjson/prettywriter.h>
#include <rapidjson/stringbuffer.h>

#include <functional>

using namespace LocalStoreSamples;

using StoreEdit = std::function<void(LocalStore &)>;
Q_DECLARE_METATYPE(StoreEdit)
using FileEdit = std::function<QByteArray(const QByteArray &)>;
Q_DECLARE_METATYPE(FileEdit)

namespace {

constexpr qsizetype kChunk = qsizetype(BlockChunks::kSize);
// Six chunks, the last one partial.
constexpr qsizetype kManyBlocks = 5 * kChunk + 17;

QString blockID(qsizetype at)
{
    return QStringLiteral("B%1").arg(at);
}

void setText(LocalStore &store, qsizetype at, const QString &text)
{
    QVERIFY(store.editBlock(
        blockID(at), [&](FNBlock &b) { b.contentJSON = QStringLiteral(R"({"text":"%1"})").arg(text); }));
}

FNBlock freshBlock(const QString &localID)
{
    FNBlock b;
    b.localID = localID;
    b.pageLocalID = QStringLiteral("P0");
    b.type = QStringLiteral("todo");
    b.contentJSON = QStringLiteral(R"({"text":"new"})");
    b.createdAt = b.updatedAt = at("2026-02-01T00:00:00Z");
    return b;
}

// The same records in other bytes: one block's check mark written as an escape.
QByteArray escapedMarkIn(const QByteArray &file, qsizetype at)
{
    QByteArray bytes = file;
    const QByteArray plain = QStringLiteral("block %1 ✓").arg(at).toUtf8();
    const qsizetype where = bytes.indexOf(plain);
    Q_ASSERT(where >= 0);
    bytes.replace(where, plain.size(), QByteArray("block ") + QByteArray::number(at) + " \\u2713");
    return bytes;
}

QByteArray indented(const QByteArray &file)
{
    rapidjson::Document doc;
    doc.Parse(file.constData(), size_t(file.size()));
    rapidjson::StringBuffer out;
    rapidjson::PrettyWriter<rapidjson::StringBuffer> writer(out);
    doc.Accept(writer);
    return QByteArray(out.GetString(), qsizetype(out.GetSize()));
}

// The file keeps whole seconds: edits stamped so read back equal.
void stampWholeSeconds(LocalStore &store)
{
    store.setClock([] { return at("2026-03-01T08:00:00Z"); });
}

// The file as a store made from scratch writes it for `state`.
QByteArray writtenFor(const QString &folder, const StoreState &state)
{
    LocalStore seed(folder, kNever);
    seed.change([&](StoreState &s) { s = state; });
    seed.save();
    return readFile(seed.url());
}

} // namespace

// The writer's copies of the blocks after a load: made beside the store's thread, taken by the first
// save as they are, and copied again only where a block changed.
class TestBlockChunks : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void saveAfterLoadWritesTheSameFile_data();
    void saveAfterLoadWritesTheSameFile();
    void editRightAfterLoadLandsInTheFile_data();
    void editRightAfterLoadLandsInTheFile();
    void onlyChangedChunksAreCopied_data();
    void onlyChangedChunksAreCopied();
    void firstSaveCopiesTheTextTheFileHolds_data();
    void firstSaveCopiesTheTextTheFileHolds();
    void takeMatchesTheListAfterEdits_data();
    void takeMatchesTheListAfterEdits();
};

void TestBlockChunks::saveAfterLoadWritesTheSameFile_data()
{
    QTest::addColumn<qsizetype>("blocks");
    QTest::addColumn<bool>("madeAsideFirst");
    for (const qsizetype blocks : {qsizetype(0), qsizetype(1), kChunk, kChunk + 1, kManyBlocks}) {
        for (const bool aside : {true, false}) {
            QTest::addRow("%lld blocks, %s", qlonglong(blocks), aside ? "chunks made aside" : "saved at once")
                << blocks << aside;
        }
    }
}

void TestBlockChunks::saveAfterLoadWritesTheSameFile()
{
    QFETCH(qsizetype, blocks);
    QFETCH(bool, madeAsideFirst);
    QTemporaryDir dir;
    const QByteArray before = writtenFor(dir.path(), stateWithBlocks(blocks));
    const size_t chunks = size_t((blocks + kChunk - 1) / kChunk);

    LocalStore store(dir.path(), kNever);
    if (madeAsideFirst)
        QCOMPARE(LocalStoreTesting::chunksMadeAside(store), chunks);
    LocalStoreTesting::scheduleSave(store);
    store.save();
    QCOMPARE(readFile(store.url()), before);
    if (madeAsideFirst)
        QCOMPARE(LocalStoreTesting::chunksCopiedBySaves(store), size_t(0));
    // Each chunk copied once, wherever the save found it.
    QCOMPARE(LocalStoreTesting::chunksCopiedBySaves(store) + LocalStoreTesting::chunksMadeAside(store),
             chunks);
}

void TestBlockChunks::editRightAfterLoadLandsInTheFile_data()
{
    QTest::addColumn<StoreEdit>("edit");
    QTest::addRow("a block's text in the first chunk")
        << StoreEdit([](LocalStore &s) { setText(s, 3, QStringLiteral("first")); });
    QTest::addRow("a block's text in the last chunk")
        << StoreEdit([](LocalStore &s) { setText(s, kManyBlocks - 1, QStringLiteral("last")); });
    QTest::addRow("one block in every chunk") << StoreEdit([](LocalStore &s) {
        for (qsizetype at = 7; at < kManyBlocks; at += kChunk)
            setText(s, at, QStringLiteral("each %1").arg(at));
    });
    QTest::addRow("a block deleted") << StoreEdit([](LocalStore &s) { s.markBlockDeleted(blockID(kChunk)); });
    QTest::addRow("a block upserted new")
        << StoreEdit([](LocalStore &s) { s.upsertBlock(freshBlock(QStringLiteral("N"))); });
    QTest::addRow("blocks appended past a chunk") << StoreEdit([](LocalStore &s) {
        std::vector<FNBlock> fresh;
        for (int i = 0; i < kChunk + 3; ++i)
            fresh.push_back(freshBlock(QStringLiteral("N%1").arg(i)));
        s.appendBlocks(fresh);
    });
    QTest::addRow("blocks replaced across chunks") << StoreEdit([](LocalStore &s) {
        std::vector<FNBlock> edited{*s.block(blockID(1)), *s.block(blockID(3 * kChunk + 2))};
        for (FNBlock &b : edited)
            b.position = 99;
        s.replaceBlocks(edited);
    });
    QTest::addRow("blocks removed in bulk") << StoreEdit([](LocalStore &s) {
        s.change([](StoreState &state) {
            state.blocks.erase(state.blocks.begin() + 10, state.blocks.begin() + 700);
        });
    });
    QTest::addRow("everything reset, then a block") << StoreEdit([](LocalStore &s) {
        s.reset();
        s.upsertBlock(freshBlock(QStringLiteral("N")));
    });
}

// The edit may come while the chunks are still being made beside it: the save holds it all the same.
void TestBlockChunks::editRightAfterLoadLandsInTheFile()
{
    QFETCH(StoreEdit, edit);
    QTemporaryDir dir;
    writtenFor(dir.path(), stateWithBlocks(kManyBlocks));

    LocalStore store(dir.path(), kNever);
    stampWholeSeconds(store);
    edit(store);
    store.save();
    const StoreState written = fileState(store.url());
    QCOMPARE(written.blocks.size(), store.state().blocks.size());
    QVERIFY(written.blocks == store.state().blocks);
    QCOMPARE(readFile(store.url()), writtenFor(QTemporaryDir().path(), store.state()));
}

void TestBlockChunks::onlyChangedChunksAreCopied_data()
{
    QTest::addColumn<StoreEdit>("edit");
    QTest::addColumn<size_t>("copied");
    QTest::addRow("one block's text")
        << StoreEdit([](LocalStore &s) { setText(s, kChunk + 5, QStringLiteral("x")); }) << size_t(1);
    QTest::addRow("two blocks of one page") << StoreEdit([](LocalStore &s) {
        setText(s, 2 * kChunk + 1, QStringLiteral("x"));
        setText(s, 2 * kChunk + 2, QStringLiteral("y"));
    }) << size_t(1);
    QTest::addRow("blocks on both sides of a chunk's end") << StoreEdit([](LocalStore &s) {
        setText(s, kChunk - 1, QStringLiteral("x"));
        setText(s, kChunk, QStringLiteral("y"));
    }) << size_t(2);
    QTest::addRow("a block deleted") << StoreEdit([](LocalStore &s) { s.markBlockDeleted(blockID(4)); })
                                     << size_t(1);
    QTest::addRow("a block appended to the partial chunk")
        << StoreEdit([](LocalStore &s) { s.upsertBlock(freshBlock(QStringLiteral("N"))); }) << size_t(1);
    QTest::addRow("blocks appended past the partial chunk") << StoreEdit([](LocalStore &s) {
        std::vector<FNBlock> fresh;
        for (int i = 0; i < kChunk; ++i)
            fresh.push_back(freshBlock(QStringLiteral("N%1").arg(i)));
        s.appendBlocks(fresh);
    }) << size_t(2);
    QTest::addRow("a page's title") << StoreEdit([](LocalStore &s) {
        QVERIFY(s.editPage(QStringLiteral("P"), [](FNPage &p) { p.title = QStringLiteral("Renamed"); }));
    }) << size_t(0);
    QTest::addRow("the cursor") << StoreEdit([](LocalStore &s) { s.setCursorServerTs(5000); }) << size_t(0);
    QTest::addRow("a bulk change") << StoreEdit([](LocalStore &s) {
        s.change([](StoreState &state) { state.blocks.front().position = 77; });
    }) << size_t(6);
}

void TestBlockChunks::onlyChangedChunksAreCopied()
{
    QFETCH(StoreEdit, edit);
    QFETCH(size_t, copied);
    QTemporaryDir dir;
    writtenFor(dir.path(), stateWithBlocks(kManyBlocks));
    LocalStore store(dir.path(), kNever);
    stampWholeSeconds(store);
    QCOMPARE(LocalStoreTesting::chunksMadeAside(store), size_t(6));
    LocalStoreTesting::scheduleSave(store);
    store.save();
    QCOMPARE(LocalStoreTesting::chunksCopiedBySaves(store), size_t(0));

    QCOMPARE(LocalStoreTesting::chunksEncodedBySaves(store), size_t(0));

    edit(store);
    LocalStoreTesting::scheduleSave(store);
    store.save();
    QCOMPARE(LocalStoreTesting::chunksCopiedBySaves(store), copied);
    // Only what changed is encoded again; the rest is copied from the file the first save wrote.
    QCOMPARE(LocalStoreTesting::chunksEncodedBySaves(store), copied);
    const size_t chunksNow = (store.state().blocks.size() + size_t(kChunk) - 1) / size_t(kChunk);
    QCOMPARE(LocalStoreTesting::chunksCopiedFromFile(store), 6 + chunksNow - copied);
    QVERIFY(fileState(store.url()).blocks == store.state().blocks);
    QCOMPARE(readFile(store.url()), writtenFor(QTemporaryDir().path(), store.state()));
}

void TestBlockChunks::firstSaveCopiesTheTextTheFileHolds_data()
{
    QTest::addColumn<FileEdit>("rewrite");
    QTest::addColumn<size_t>("found");
    const FileEdit asIs = [](const QByteArray &bytes) { return bytes; };
    QTest::addRow("as the writer writes it") << asIs << size_t(6);
    QTest::addRow("indented") << FileEdit(indented) << size_t(0);
    QTest::addRow("a text escaped in the first block")
        << FileEdit([](const QByteArray &b) { return escapedMarkIn(b, 0); }) << size_t(0);
    QTest::addRow("a text escaped in the fourth chunk")
        << FileEdit([](const QByteArray &b) { return escapedMarkIn(b, 3 * kChunk + 4); }) << size_t(3);
    QTest::addRow("a text escaped in the last block")
        << FileEdit([](const QByteArray &b) { return escapedMarkIn(b, kManyBlocks - 1); }) << size_t(5);
}

// Bytes the writer would not write stop the copying from that chunk on; the file saved is the same.
void TestBlockChunks::firstSaveCopiesTheTextTheFileHolds()
{
    QFETCH(FileEdit, rewrite);
    QFETCH(size_t, found);
    QTemporaryDir dir;
    const QByteArray written = writtenFor(dir.path(), stateWithBlocks(kManyBlocks));
    const QString url = QDir(dir.path()).filePath(QStringLiteral("state.json"));
    writeFile(url, rewrite(written));

    LocalStore store(dir.path(), kNever);
    QCOMPARE(store.state().blocks.size(), size_t(kManyBlocks));
    QCOMPARE(LocalStoreTesting::chunksFoundInFile(store), found);
    LocalStoreTesting::scheduleSave(store);
    store.save();
    QCOMPARE(LocalStoreTesting::chunksCopiedFromFile(store), found);
    QCOMPARE(LocalStoreTesting::chunksEncodedBySaves(store), 6 - found);
    QCOMPARE(readFile(store.url()), written);

    // A later save copies every chunk from the file the last one wrote.
    LocalStoreTesting::scheduleSave(store);
    store.save();
    QCOMPARE(LocalStoreTesting::chunksEncodedBySaves(store), 6 - found);
    QCOMPARE(readFile(store.url()), written);
}

void TestBlockChunks::takeMatchesTheListAfterEdits_data()
{
    QTest::addColumn<qsizetype>("blocks");
    QTest::addColumn<int>("editEvery"); // one block in every so many chunks edited; 0: none
    QTest::addRow("nothing edited") << kManyBlocks << 0;
    QTest::addRow("every chunk edited") << kManyBlocks << 1;
    QTest::addRow("every other chunk edited") << kManyBlocks << 2;
    QTest::addRow("one chunk, edited") << kChunk << 1;
    QTest::addRow("many chunks, all edited") << 40 * kChunk + 3 << 1;
}

// However the changed chunks are shared out to be copied, the take holds the list as it stands,
// shares what did not change with the take before, and lets the copies it replaced go.
void TestBlockChunks::takeMatchesTheListAfterEdits()
{
    QFETCH(qsizetype, blocks);
    QFETCH(int, editEvery);
    RecordList<FNBlock> list = stateWithBlocks(blocks).blocks;
    BlockChunks chunks(list);
    std::vector<BlockChunk> before = chunks.take();
    std::vector<std::weak_ptr<BlockChunkPiece>> replaced;
    for (size_t c = 0; editEvery > 0 && c < before.size(); c += size_t(editEvery)) {
        const qsizetype at = qsizetype(c) * kChunk + qsizetype(c % 7) % (blocks - qsizetype(c) * kChunk);
        list[size_t(at)].contentJSON = QStringLiteral(R"({"text":"edited %1"})").arg(at);
        chunks.touched(at);
        replaced.push_back(before[c]);
    }
    const std::vector<BlockChunk> after = chunks.take();
    RecordList<FNBlock> joined;
    for (const BlockChunk &chunk : after) {
        const auto held = chunk->blocks();
        QVERIFY(held);
        joined.insert(joined.end(), held->begin(), held->end());
    }
    QVERIFY(joined == list);
    for (size_t c = 0; c < after.size(); ++c) {
        const bool edited = editEvery > 0 && c % size_t(editEvery) == 0;
        QCOMPARE(after[c] == before[c], !edited);
    }
    before.clear();
    for (const auto &gone : replaced)
        QTRY_VERIFY_WITH_TIMEOUT(gone.expired(), 15000);
}

QTEST_GUILESS_MAIN(TestBlockChunks)
#include "tst_block_chunks.moc"
