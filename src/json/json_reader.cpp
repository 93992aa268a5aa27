#include "json/json_reader.h"

#include "json/json_coder.h"

#include <rapidjson/error/en.h>
#include <rapidjson/memorystream.h>
#include <rapidjson/reader.h>

#include <algorithm>
#include <charconv>
#include <cmath>

namespace json {

namespace {

// A constant string: parsed strings are always copies, so no input can be taken for the mark.
constexpr char kTooDeepMark[] = "(nested too deep)";
// Marking still costs the parser a few bytes for every open level; past this the text is refused.
constexpr int kMarkCeiling = kMaxDepth * 2048;

// from_chars says "out of range" both ways. A long double tells which: the parser's own exponent
// checks keep what reaches here under about 1e650, so one even a long double cannot hold is tiny.
bool underflows(const char *first, const char *last)
{
    long double wide = 0;
    const auto result = std::from_chars(first, last, wide);
    return result.ec == std::errc::result_out_of_range || std::fabs(wide) < 1;
}

// Passes the parser's events on to the document while counting how deep they nest. Past the limit
// it stops the parse or, when marking, drops the events and leaves one mark for the whole value.
class DepthLimit
{
public:
    DepthLimit(rapidjson::Document &doc, TooDeep tooDeep)
        : m_doc(doc)
        , m_tooDeep(tooDeep)
    {
    }

    bool exceeded() const { return m_exceeded; }
    bool tooBig() const { return m_tooBig; }

    bool Null() { return skipping() || m_doc.Null(); }
    bool Bool(bool b) { return skipping() || m_doc.Bool(b); }
    // Numbers arrive as text (RawNumber); the parser's template still names these.
    bool Int(int i) { return skipping() || m_doc.Int(i); }
    bool Uint(unsigned i) { return skipping() || m_doc.Uint(i); }
    bool Int64(int64_t i) { return skipping() || m_doc.Int64(i); }
    bool Uint64(uint64_t i) { return skipping() || m_doc.Uint64(i); }
    bool Double(double d) { return skipping() || m_doc.Double(d); }
    bool RawNumber(const char *s, rapidjson::SizeType n, bool) { return skipping() || number(s, s + n); }
    bool String(const char *s, rapidjson::SizeType n, bool copy)
    {
        return skipping() || m_doc.String(s, n, copy);
    }
    bool Key(const char *s, rapidjson::SizeType n, bool copy) { return skipping() || m_doc.Key(s, n, copy); }
    bool StartObject() { return open() && (skipping() || m_doc.StartObject()); }
    bool StartArray() { return open() && (skipping() || m_doc.StartArray()); }
    bool EndObject(rapidjson::SizeType n) { return close() || m_doc.EndObject(n); }
    bool EndArray(rapidjson::SizeType n) { return close() || m_doc.EndArray(n); }

private:
    bool skipping() const { return m_depth > kMaxDepth; }

    // The parser has checked the grammar; from_chars gives the exact integer or the correctly
    // rounded double, and says when a double cannot hold the value.
    bool number(const char *first, const char *last)
    {
        const bool whole = std::none_of(first, last, [](char c) { return c == '.' || c == 'e' || c == 'E'; });
        if (whole) {
            if (*first == '-') {
                int64_t i = 0;
                if (std::from_chars(first, last, i).ec == std::errc())
                    return m_doc.Int64(i);
            } else {
                uint64_t u = 0;
                if (std::from_chars(first, last, u).ec == std::errc())
                    return m_doc.Uint64(u);
            }
        }
        double d = 0;
        const auto [end, ec] = std::from_chars(first, last, d);
        if (ec == std::errc::result_out_of_range && underflows(first, last)) {
            d = *first == '-' ? -0.0 : 0.0;
        } else if (ec != std::errc() || end != last || !std::isfinite(d)) {
            m_tooBig = true;
            return false;
        }
        return m_doc.Double(d);
    }

    bool open()
    {
        if (++m_depth <= kMaxDepth)
            return true;
        if (m_tooDeep == TooDeep::Mark && m_depth <= kMarkCeiling)
            return true;
        m_exceeded = true;
        return false;
    }

    // True when the closed level was dropped, so the document has nothing to close.
    bool close()
    {
        if (m_depth-- <= kMaxDepth)
            return false;
        if (m_depth == kMaxDepth)
            m_doc.String(kTooDeepMark, rapidjson::SizeType(sizeof kTooDeepMark - 1), false);
        return true;
    }

    rapidjson::Document &m_doc;
    TooDeep m_tooDeep;
    int m_depth = 0;
    bool m_exceeded = false;
    bool m_tooBig = false;
};

} // namespace

std::optional<qint64> wholeInt64(const rapidjson::Value &v)
{
    if (!v.IsNumber())
        return std::nullopt;
    if (v.IsInt64())
        return v.GetInt64();
    if (v.IsUint64())
        return std::nullopt; // above the signed range
    const double d = v.GetDouble();
    // [-2^63, 2^63): both bounds are exact doubles.
    if (std::isfinite(d) && d == std::trunc(d) && d >= -9223372036854775808.0 && d < 9223372036854775808.0)
        return qint64(d);
    return std::nullopt;
}

QString kindName(const rapidjson::Value &v)
{
    if (isTooDeepMark(v))
        return QStringLiteral("a value nested deeper than %1 levels").arg(kMaxDepth);
    switch (v.GetType()) {
    case rapidjson::kNullType:
        return QStringLiteral("null");
    case rapidjson::kFalseType:
    case rapidjson::kTrueType:
        return QStringLiteral("a boolean");
    case rapidjson::kNumberType:
        return QStringLiteral("a number");
    case rapidjson::kStringType:
        return QStringLiteral("a string");
    case rapidjson::kArrayType:
        return QStringLiteral("an array");
    case rapidjson::kObjectType:
        return QStringLiteral("an object");
    }
    return QStringLiteral("an unknown value");
}

static DecodeError mismatch(const char *expected, const rapidjson::Value &v)
{
    return DecodeError(QStringLiteral("expected %1, found %2").arg(QLatin1String(expected), kindName(v)));
}

QString readString(const rapidjson::Value &v)
{
    if (!v.IsString() || isTooDeepMark(v))
        throw mismatch("a string", v);
    return QString::fromUtf8(v.GetString(), v.GetStringLength());
}

qint64 readInt(const rapidjson::Value &v)
{
    if (const auto i = wholeInt64(v))
        return *i;
    throw mismatch("an integer", v);
}

double readDouble(const rapidjson::Value &v)
{
    if (!v.IsNumber())
        throw mismatch("a number", v);
    return v.GetDouble();
}

bool readBool(const rapidjson::Value &v)
{
    if (!v.IsBool())
        throw mismatch("a boolean", v);
    return v.GetBool();
}

QDateTime readDate(const rapidjson::Value &v)
{
    const QString text = readString(v);
    if (const auto d = parseDate(text))
        return *d;
    throw DecodeError(QStringLiteral("expected an ISO 8601 date, found \"%1\"").arg(text));
}

const rapidjson::Value &requireObject(const rapidjson::Value &v)
{
    if (!v.IsObject())
        throw mismatch("an object", v);
    return v;
}

const rapidjson::Value &requireArray(const rapidjson::Value &v)
{
    if (!v.IsArray())
        throw mismatch("an array", v);
    return v;
}

void parseDocument(rapidjson::Document &doc, const QByteArray &bytes, TooDeep tooDeep)
{
    // Numbers come as text and are converted here: RapidJSON 1.1's full-precision path crashes and
    // misreads on some long or zero mantissas. Invalid UTF-8 is malformed JSON. The iterative parser
    // keeps its levels on the heap, so deep text cannot overflow the stack.
    constexpr unsigned kFlags = rapidjson::kParseNumbersAsStringsFlag |
                                rapidjson::kParseValidateEncodingFlag | rapidjson::kParseIterativeFlag;
    rapidjson::MemoryStream memory(bytes.constData(), size_t(bytes.size()));
    rapidjson::EncodedInputStream<rapidjson::UTF8<>, rapidjson::MemoryStream> input(memory);
    rapidjson::Reader reader;
    DepthLimit limit(doc, tooDeep);
    rapidjson::ParseResult result;
    const auto generate = [&](rapidjson::Document &) {
        result = reader.Parse<kFlags>(input, limit);
        return !result.IsError();
    };
    doc.Populate(generate);
    if (limit.exceeded())
        throw tooDeepError();
    if (limit.tooBig())
        throw DecodeError(
            QStringLiteral("Malformed JSON at offset %1: %2")
                .arg(result.Offset())
                .arg(QString::fromUtf8(rapidjson::GetParseError_En(rapidjson::kParseErrorNumberTooBig))));
    if (result.IsError())
        throw DecodeError(QStringLiteral("Malformed JSON at offset %1: %2")
                              .arg(result.Offset())
                              .arg(QString::fromUtf8(rapidjson::GetParseError_En(result.Code()))));
}

bool isTooDeepMark(const rapidjson::Value &v)
{
    return v.IsString() && v.GetString() == kTooDeepMark;
}

DecodeError tooDeepError()
{
    return DecodeError(QStringLiteral("JSON nested deeper than %1 levels").arg(kMaxDepth));
}

bool formatDateLatin1(const QDateTime &d, char *out)
{
    // Straight from the epoch seconds: a save writes hundreds of thousands of dates, and going
    // through time zones and QString formatting made dates most of the encoding time.
    const qint64 secs = d.toSecsSinceEpoch();
    qint64 days = secs >= 0 ? secs / 86400 : (secs - 86399) / 86400;
    const qint64 rest = secs - days * 86400;
    // Civil date from days since 1970-01-01 (proleptic Gregorian).
    days += 719468;
    const qint64 era = (days >= 0 ? days : days - 146096) / 146097;
    const qint64 doe = days - era * 146097;
    const qint64 yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const qint64 doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const qint64 mp = (5 * doy + 2) / 153;
    const qint64 day = doy - (153 * mp + 2) / 5 + 1;
    const qint64 month = mp < 10 ? mp + 3 : mp - 9;
    const qint64 year = yoe + era * 400 + (month <= 2 ? 1 : 0);
    if (year < 0 || year > 9999)
        return false;
    const auto two = [](char *p, qint64 v) {
        p[0] = char('0' + v / 10);
        p[1] = char('0' + v % 10);
    };
    two(out, year / 100);
    two(out + 2, year % 100);
    out[4] = '-';
    two(out + 5, month);
    out[7] = '-';
    two(out + 8, day);
    out[10] = 'T';
    two(out + 11, rest / 3600);
    out[13] = ':';
    two(out + 14, rest / 60 % 60);
    out[16] = ':';
    two(out + 17, rest % 60);
    out[19] = 'Z';
    return true;
}

QString formatDate(const QDateTime &d)
{
    char buf[20];
    if (formatDateLatin1(d, buf))
        return QString::fromLatin1(buf, 20);
    return d.toUTC().toString(QStringLiteral("yyyy-MM-dd'T'HH:mm:ss'Z'"));
}

std::optional<QDateTime> parseDate(const QString &text)
{
    QDateTime d = QDateTime::fromString(text, Qt::ISODate);
    if (!d.isValid())
        return std::nullopt;
    d = d.toUTC();
    // Only what formatDate writes back as readable text: an offset can carry a date past either end.
    if (const int year = d.date().year(); year < 1 || year > 9999)
        return std::nullopt;
    // Whole seconds, as the shared coder writes them.
    return d.addMSecs(-(d.time().msec()));
}

} // namespace json
