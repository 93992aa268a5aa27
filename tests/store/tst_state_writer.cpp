#include "local_store_samples.h"
#include "platform/diag.h"
#include "store/block_chunks.h"
#include "store/local_store.h"
#include "store/outbox_chunks.h"
#include "store/state_writer.h"
#include "support/local_store_testing.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <functional>

using namespace LocalStoreSamples;

using StoreEdit = std::function<void(LocalStore &)>;
Q_DECLARE_METATYPE(StoreEdit)

namespace {

constexpr qsizetype kChunk = qsizetype(BlockChunks::kSize);
// Six chunks, the last one partial.
constexpr qsizetype kManyBlocks = 5 * kChunk + 17;

void setText(LocalStore &store, qsizetype at, const QString &text)
{
    QVERIFY(store.editBlock(QStringLiteral("B%1").arg(at), [&](FNBlock &b) {
        b.contentJSON = QStringLiteral(R"({"text":"%1"})").arg(text);
    }));
}

std::vector<FNBlock> freshBlocks(qsizetype count)
{
    std::vector<FNBlock> blocks;
    for (qsizetype i = 0; i < count; ++i) {
        FNBlock b;
        b.localID = QStringLiteral("N%1").arg(i);
        b.pageLocalID = QStringLiteral("P0");
        b.type = QStringLiteral("todo");
        b.contentJSON = QStringLiteral(R"({"text":"new %1"})").arg(i);
        b.createdAt = b.updatedAt = at("2026-02-01T00:00:00Z");
        blocks.push_back(b);
    }
    return blocks;
}

// The file as a store made from scratch encodes it for `state`, nothing copied.
QByteArray encodedAnew(const StoreState &state)
{
    QTemporaryDir dir;
    LocalStore seed(dir.path(), kNever);
    seed.change([&](StoreState &s) { s = state; });
    seed.save();
    return readFile(seed.url());
}

constexpr qsizetype kPiece = qsizetype(OutboxChunks::kChunkOps);
// Three pieces, the last one partial.
constexpr qsizetype kManyOps = 2 * kPiece + 40;

std::vector<FNSyncOp> queuedOps(qsizetype count, const QString &prefix = QStringLiteral("O"))
{
    std::vector<FNSyncOp> ops;
    for (qsizetype i = 0; i < count; ++i) {
        FNSyncOp op;
        op.localID = prefix + QString::number(i);
        op.entity = QStringLiteral("block");
        op.op = QStringLiteral("upsert");
        op.refLocalID = QStringLiteral("P0");
        op.payloadJSON = QStringLiteral(R"({"page_id":42,"blocks":[],"n":%1})").arg(i);
        op.createdAt = at("2026-01-06T00:00:00Z").addSecs(i);
        ops.push_back(op);
    }
    return ops;
}

// The outbox as a store started from the saved file reads it.
std::vector<FNSyncOp> outboxOnDisk(const LocalStore &store)
{
    QTemporaryDir dir;
    writeFile(QDir(dir.path()).filePath(QStringLiteral("state.json")), readFile(store.url()));
    return LocalStore(dir.path(), kNever).state().outbox;
}

void editOutbox(LocalStore &store, const std::function<void(std::vector<FNSyncOp> &)> &edit)
{
    store.changeOutsideRecords([&](StoreState &s) { edit(s.outbox); });
}

} // namespace

// The writer copies the text of unchanged blocks from the file it last wrote or read, runs of them at
// a time: the file it writes is the one encoding everything anew would give.
class TestStateWriter : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void copiedFileIsTheEncodedOne_data();
    void copiedFileIsTheEncodedOne();
    void keptFileCutShortFailsTheSaveAndTheNextOneEncodes();
    void chunkHoldingNothingFailsTheSave();
    void savedOutboxIsTheOutboxAsItIsNow_data();
    void savedOutboxIsTheOutboxAsItIsNow();
};

void TestStateWriter::copiedFileIsTheEncodedOne_data()
{
    QTest::addColumn<StoreEdit>("edit");
    const std::vector<std::pair<const char *, StoreEdit>> edits{
        {"unchanged", [](LocalStore &s) { LocalStoreTesting::scheduleSave(s); }},
        {"one chunk edited", [](LocalStore &s) { setText(s, 2 * kChunk + 5, QStringLiteral("edited")); }},
        {"first and last chunks edited",
         [](LocalStore &s) {
             setText(s, 0, QStringLiteral("first"));
             setText(s, kManyBlocks - 1, QStringLiteral("last \"quoted\""));
         }},
        {"blocks appended past a chunk", [](LocalStore &s) { s.appendBlocks(freshBlocks(kChunk + 3)); }},
        {"blocks removed",
         [](LocalStore &s) {
             s.change([](StoreState &state) {
                 state.blocks.erase(state.blocks.begin() + 10, state.blocks.begin() + 700);
             });
         }},
        {"every block removed",
         [](LocalStore &s) { s.change([](StoreState &state) { state.blocks.clear(); }); }},
        // Another program's file takes the name: the text kept open is still the one this store wrote.
        {"kept file replaced underneath",
         [](LocalStore &s) {
             const QString other = s.url() + QStringLiteral(".other");
             writeFile(other, encodedAnew(stateWithBlocks(3)));
             QVERIFY(::rename(QFile::encodeName(other).constData(), QFile::encodeName(s.url()).constData()) ==
                     0);
             setText(s, kChunk, QStringLiteral("after the swap"));
         }},
    };
    for (const auto &[name, edit] : edits)
        QTest::addRow("%s", name) << edit;
}

// Twice: the first save copies from the loaded file, the second from the one the first wrote.
void TestStateWriter::copiedFileIsTheEncodedOne()
{
    QFETCH(StoreEdit, edit);
    QTemporaryDir dir;
    writeFile(QDir(dir.path()).filePath(QStringLiteral("state.json")),
              encodedAnew(stateWithBlocks(kManyBlocks)));

    LocalStore store(dir.path(), kNever);
    QCOMPARE(LocalStoreTesting::chunksFoundInFile(store), size_t(6));
    edit(store);
    store.save();
    QCOMPARE(readFile(store.url()), encodedAnew(store.state()));

    const size_t copiedBefore = LocalStoreTesting::chunksCopiedFromFile(store);
    if (!store.state().blocks.empty()) {
        setText(store, 1, QStringLiteral("again"));
        store.save();
        QCOMPARE(readFile(store.url()), encodedAnew(store.state()));
        if (store.state().blocks.size() > size_t(kChunk))
            QVERIFY(LocalStoreTesting::chunksCopiedFromFile(store) > copiedBefore);
    }
}

// Cut in place, the file no longer holds what the chunks point at: that save fails and says so, the
// next one writes every block from the records.
void TestStateWriter::keptFileCutShortFailsTheSaveAndTheNextOneEncodes()
{
    QTemporaryDir dir;
    writeFile(QDir(dir.path()).filePath(QStringLiteral("state.json")),
              encodedAnew(stateWithBlocks(kManyBlocks)));

    LocalStore store(dir.path(), kNever);
    QCOMPARE(LocalStoreTesting::chunksFoundInFile(store), size_t(6));
    QVERIFY(QFile::resize(store.url(), QFileInfo(store.url()).size() / 2));
    setText(store, 3 * kChunk, QStringLiteral("edited"));
    {
        DiagCapture diag;
        store.save();
        QVERIFY2(diag.contains(QStringLiteral("could not be read back")),
                 qPrintable(diag.lines().join('\n')));
    }
    DiagCapture diag;
    store.save();
    QVERIFY2(diag.lines().isEmpty(), qPrintable(diag.lines().join('\n')));
    QCOMPARE(readFile(store.url()), encodedAnew(store.state()));
}

// A chunk whose text could not be read back and whose blocks went: the save fails and says so, and
// the file keeps its blocks, rather than being written without them.
void TestStateWriter::chunkHoldingNothingFailsTheSave()
{
    QTemporaryDir dir;
    const QString path = QDir(dir.path()).filePath(QStringLiteral("state.json"));
    const QByteArray before = encodedAnew(stateWithBlocks(3));
    writeFile(path, before);

    const RecordList<FNBlock> list = stateWithBlocks(3).blocks;
    const std::vector<FNBlock> blocks(list.begin(), list.end());
    auto gone = std::make_shared<BlockChunkPiece>(blocks);
    (void)gone->setText({.file = {}, .offset = 0, .size = 1});
    gone->textLost();
    QVERIFY(!gone->content().blocks && !gone->content().text);

    auto snapshot = std::make_shared<StateSnapshot>();
    snapshot->folders = std::make_shared<const std::vector<FNFolder>>();
    snapshot->pages = std::make_shared<const std::vector<FNPage>>();
    snapshot->blockChunks = {std::make_shared<BlockChunkPiece>(blocks), gone};
    QStringList failures;
    {
        StateWriter writer(path, [&](const QString &reason) { failures.append(reason); });
        writer.write(snapshot);
        writer.wait();
    }
    QCOMPARE(failures.size(), 1);
    QVERIFY2(failures.first().contains(QStringLiteral("could not be read back")), qPrintable(failures.first()));
    QCOMPARE(readFile(path), before);
}

void TestStateWriter::savedOutboxIsTheOutboxAsItIsNow_data()
{
    QTest::addColumn<StoreEdit>("edit");
    using Ops = std::vector<FNSyncOp>;
    const auto outbox = [](std::function<void(Ops &)> edit) {
        return StoreEdit([edit](LocalStore &s) { editOutbox(s, edit); });
    };
    const std::vector<std::pair<const char *, StoreEdit>> edits{
        {"unchanged", [](LocalStore &s) { LocalStoreTesting::scheduleSave(s); }},
        {"operations appended past a piece", outbox([](Ops &ops) {
             for (FNSyncOp &op : queuedOps(kPiece + 3, QStringLiteral("A")))
                 ops.push_back(op);
         })},
        {"a send counted in the first piece", outbox([](Ops &ops) {
             ops[5].attempts = 2;
             ops[5].lastError = QStringLiteral("Server problem.");
         })},
        {"a payload rewritten in the last whole piece",
         outbox([](Ops &ops) { ops[size_t(2 * kPiece - 1)].payloadJSON = QStringLiteral(R"({"page_id":7})"); })},
        {"one marked unanswered", outbox([](Ops &ops) { ops[size_t(kPiece)].unanswered = true; })},
        {"the first ones sent", outbox([](Ops &ops) { ops.erase(ops.begin(), ops.begin() + 3); })},
        {"a whole piece sent", outbox([](Ops &ops) { ops.erase(ops.begin(), ops.begin() + kPiece); })},
        {"one in the middle taken out", outbox([](Ops &ops) { ops.erase(ops.begin() + kPiece + 9); })},
        {"two swapped", outbox([](Ops &ops) { std::swap(ops[1], ops[size_t(kPiece + 1)]); })},
        {"every one sent", outbox([](Ops &ops) { ops.clear(); })},
    };
    for (const auto &[name, edit] : edits)
        QTest::addRow("%s", name) << edit;
}

// Each save writes the outbox as it stands then, whatever changed in it since the save before.
void TestStateWriter::savedOutboxIsTheOutboxAsItIsNow()
{
    QFETCH(StoreEdit, edit);
    QTemporaryDir dir;
    LocalStore store(dir.path(), kNever);
    editOutbox(store, [](std::vector<FNSyncOp> &ops) { ops = queuedOps(kManyOps); });
    store.save();
    QCOMPARE(readFile(store.url()), encodedAnew(store.state()));

    edit(store);
    store.save();
    QCOMPARE(readFile(store.url()), encodedAnew(store.state()));
    QCOMPARE(outboxOnDisk(store), store.state().outbox);

    // And once more, from the pieces the last save made.
    editOutbox(store, [](std::vector<FNSyncOp> &ops) {
        if (!ops.empty())
            ops.back().attempts += 1;
        ops.push_back(queuedOps(1, QStringLiteral("Z")).front());
    });
    store.save();
    QCOMPARE(readFile(store.url()), encodedAnew(store.state()));
    QCOMPARE(outboxOnDisk(store), store.state().outbox);
}

QTEST_GUILESS_MAIN(TestStateWriter)
#include "tst_state_writer.moc"
