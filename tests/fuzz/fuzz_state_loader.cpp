#include "json/json_coder.h"
#include "platform/diag.h"
#include "store/local_store.h"
#include "store/store_state_decoder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>

// The state loader, from the file as a start finds it: "state.json" is read, partly read or set
// aside, never a crash; what loads saves as text that loads again whole and the same.
namespace {

[[noreturn]] void finding(const char *what, const QString &detail)
{
    std::fprintf(stderr, "finding: %s: %s\n", what, qPrintable(detail));
    std::abort();
}

const QString &folder()
{
    // In memory where there is one: the loader syncs what it sets aside.
    static const auto dir = [] {
        const QString shm = QStringLiteral("/dev/shm");
        return QFileInfo(shm).isWritable()
                   ? std::make_unique<QTemporaryDir>(shm + QStringLiteral("/penroost-fuzz-XXXXXX"))
                   : std::make_unique<QTemporaryDir>();
    }();
    static const QString path = dir->filePath(QStringLiteral("Folionest"));
    return path;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString path = QDir(folder()).filePath(QStringLiteral("state.json"));
    QDir(folder()).removeRecursively();
    QDir().mkpath(folder());
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly))
            finding("cannot write the input", path);
        file.write(reinterpret_cast<const char *>(data), qint64(size));
    }

    // The streaming decoder the load uses reads every text as the document reader does.
    {
        const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
        StoreStateDrops byDocument, byDecoder;
        std::optional<StoreState> expected, got;
        QString expectedError, gotError;
        try {
            rapidjson::Document doc;
            json::parseDocument(doc, bytes, json::TooDeep::Refuse, json::Damaged::Mark);
            expected = StoreState::fromJsonByRecord(doc, byDocument);
        } catch (const DecodeError &e) {
            expectedError = e.message();
        }
        try {
            got = StoreStateDecoder::decode(bytes, byDecoder);
        } catch (const DecodeError &e) {
            gotError = e.message();
        }
        if (gotError != expectedError || got.has_value() != expected.has_value() ||
            (got && !(*got == *expected)) || byDecoder.counts != byDocument.counts ||
            byDecoder.first != byDocument.first)
            finding("the streaming decoder reads it otherwise",
                    expectedError + QStringLiteral(" / ") + gotError);
    }

    DiagCapture quiet;
    LocalStore store(folder(), std::chrono::hours(1));
    if (store.isSaveBlocked())
        finding("a readable folder blocked saves", store.saveBlockedReason());
    if (store.state() == StoreState{})
        return 0;

    JsonWriter writer;
    try {
        writer.value(store.state());
    } catch (const EncodeError &e) {
        finding("loaded but cannot be saved", e.message());
    }
    const QByteArray saved(writer.view().data(), writer.view().size());
    StoreStateDrops dropped;
    try {
        rapidjson::Document doc;
        json::parseDocument(doc, saved);
        if (StoreState::fromJsonByRecord(doc, dropped) != store.state())
            finding("loads again as another state", QString::fromUtf8(saved));
    } catch (const DecodeError &e) {
        finding("saved text does not load", e.message());
    }
    if (!dropped.isEmpty())
        finding("the next load drops records", dropped.summary());
    return 0;
}
