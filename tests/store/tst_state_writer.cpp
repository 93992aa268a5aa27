#include "local_store_samples.h"
#include "platform/diag.h"
#include "store/block_chunks.h"
#include "store/local_store.h"
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

    const std::vector<FNBlock> blocks = stateWithBlocks(3).blocks;
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

QTEST_GUILESS_MAIN(TestStateWriter)
#include "tst_state_writer.moc"
