#include "json/json_coder.h"
#include "json/json_value.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

// The JSON reader: any text is read or refused with DecodeError, never crashes; what it reads
// writes back and reads back as the same value, and a date it accepts writes back readably.
namespace {

[[noreturn]] void finding(const char *what, const QString &detail)
{
    std::fprintf(stderr, "finding: %s: %s\n", what, qPrintable(detail));
    std::abort();
}

void checkDates(const JSONValue &v)
{
    if (v.isString()) {
        const auto date = json::parseDate(v.toString());
        if (!date)
            return;
        const QString written = json::formatDate(*date);
        if (json::parseDate(written) != date)
            finding("date does not read back", v.toString() + QStringLiteral(" -> ") + written);
    } else if (v.isArray()) {
        for (const JSONValue &e : v.toArray())
            checkDates(e);
    } else if (v.isObject()) {
        for (const auto &[key, e] : v.toObject())
            checkDates(e);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));
    {
        // Marking keeps reading past a value nested too deep.
        rapidjson::Document doc;
        try {
            json::parseDocument(doc, bytes, json::TooDeep::Mark);
        } catch (const DecodeError &) {
        }
    }
    JSONValue value;
    try {
        value = JSONValue::parse(bytes);
    } catch (const DecodeError &) {
        return 0;
    }
    QByteArray written;
    try {
        written = value.serialize();
    } catch (const EncodeError &e) {
        finding("read but cannot be written", e.message());
    }
    try {
        if (JSONValue::parse(written) != value)
            finding("reads back as another value", QString::fromUtf8(written));
    } catch (const DecodeError &e) {
        finding("written text does not read", e.message());
    }
    checkDates(value);
    return 0;
}
