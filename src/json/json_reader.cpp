#include "json/json_reader.h"

#include "json/json_coder.h"
#include "json/json_sax.h"

#include <rapidjson/error/en.h>
#include <rapidjson/memorystream.h>
#include <rapidjson/reader.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>

namespace json {

namespace {

// from_chars says "out of range" both ways. The text tells which: where its first significant digit
// stands, shifted by the exponent, which may be longer than any integer type holds.
bool underflows(const char *first, const char *last)
{
    const char *p = first + (*first == '-' ? 1 : 0);
    qint64 order = 0; // the value lies in [10^(order-1), 10^order)
    bool significant = false;
    bool point = false;
    for (; p != last && *p != 'e' && *p != 'E'; ++p) {
        if (*p == '.') {
            point = true;
        } else if (!significant && *p == '0') {
            if (point)
                --order;
        } else {
            significant = true;
            if (!point)
                ++order;
        }
    }
    qint64 exponent = 0;
    bool negative = false;
    if (p != last) {
        ++p;
        negative = *p == '-';
        if (*p == '-' || *p == '+')
            ++p;
        for (; p != last; ++p) {
            if (exponent < 1'000'000'000)
                exponent = exponent * 10 + (*p - '0');
        }
    }
    return order + (negative ? -exponent : exponent) <= 0;
}

// Any mark parsing left: no reader takes one for the string its text is.
bool isMark(const rapidjson::Value &v)
{
    return v.IsString() && (isTooDeepMark(v) || damageOf(v.GetString()) != Damage::None);
}

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
    if (const Damage damage = v.IsString() ? damageOf(v.GetString()) : Damage::None; damage != Damage::None)
        return damageName(damage);
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
    if (!v.IsString() || isMark(v))
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
    if (!v.IsString() || isMark(v))
        throw mismatch("a string", v);
    if (const auto d = parseDateUtf8(v.GetString(), v.GetStringLength()))
        return *d;
    throw dateError(v.GetString(), v.GetStringLength());
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

// The parser has checked the grammar; from_chars gives the exact integer or the correctly rounded
// double, and says when a double cannot hold the value.
ParsedNumber parseNumber(const char *first, const char *last)
{
    ParsedNumber n;
    const bool whole = std::none_of(first, last, [](char c) { return c == '.' || c == 'e' || c == 'E'; });
    if (whole) {
        if (*first == '-') {
            if (std::from_chars(first, last, n.i).ec == std::errc()) {
                n.kind = ParsedNumber::Int64;
                return n;
            }
        } else if (std::from_chars(first, last, n.u).ec == std::errc()) {
            n.kind = ParsedNumber::Uint64;
            return n;
        }
    }
    const auto [end, ec] = std::from_chars(first, last, n.d);
    if (ec == std::errc::result_out_of_range && underflows(first, last))
        n.d = *first == '-' ? -0.0 : 0.0;
    else if (ec != std::errc() || end != last || !std::isfinite(n.d))
        return n;
    n.kind = ParsedNumber::Double;
    return n;
}

std::optional<qint64> wholeInt64(const ParsedNumber &n)
{
    switch (n.kind) {
    case ParsedNumber::Int64:
        return n.i;
    case ParsedNumber::Uint64:
        if (n.u <= uint64_t(std::numeric_limits<qint64>::max()))
            return qint64(n.u);
        return std::nullopt;
    case ParsedNumber::Double:
        // [-2^63, 2^63): both bounds are exact doubles.
        if (n.d == std::trunc(n.d) && n.d >= -9223372036854775808.0 && n.d < 9223372036854775808.0)
            return qint64(n.d);
        return std::nullopt;
    case ParsedNumber::TooBig:
        break;
    }
    return std::nullopt;
}

DecodeError parseError(const rapidjson::ParseResult &result, bool exceeded, bool tooBig)
{
    if (exceeded)
        return tooDeepError();
    const rapidjson::ParseErrorCode code = tooBig ? rapidjson::kParseErrorNumberTooBig : result.Code();
    return DecodeError(QStringLiteral("Malformed JSON at offset %1: %2")
                           .arg(result.Offset())
                           .arg(QString::fromUtf8(rapidjson::GetParseError_En(code))));
}

void parseDocument(rapidjson::Document &doc, const QByteArray &bytes, TooDeep tooDeep, Damaged damaged)
{
    rapidjson::MemoryStream memory(bytes.constData(), size_t(bytes.size()));
    rapidjson::EncodedInputStream<rapidjson::UTF8<>, rapidjson::MemoryStream> input(memory);
    std::optional<DecodeError> failure;
    const auto generate = [&](rapidjson::Document &handler) {
        try {
            parseEvents(input, handler, tooDeep, kMaxDepth, damaged);
            return true;
        } catch (const DecodeError &e) {
            failure = e;
            return false;
        }
    };
    doc.Populate(generate);
    if (failure)
        throw *failure;
}

bool isTooDeepMark(const rapidjson::Value &v)
{
    return v.IsString() && v.GetString() == kTooDeepText;
}

DecodeError tooDeepError()
{
    return DecodeError(QStringLiteral("JSON nested deeper than %1 levels").arg(kMaxDepth));
}

Damage damageOf(const char *text)
{
    if (text == kTooBigText)
        return Damage::TooBig;
    if (text == kNotUtf8Text)
        return Damage::NotUtf8;
    return Damage::None;
}

QString damageName(Damage damage)
{
    switch (damage) {
    case Damage::TooBig:
        return QStringLiteral("a number too large for a double");
    case Damage::NotUtf8:
        return QStringLiteral("text that is not UTF-8");
    case Damage::None:
        break;
    }
    return {};
}

// Parsed text nests no deeper than kMaxDepth, which bounds the recursion.
Damage firstDamage(const rapidjson::Value &v)
{
    if (v.IsString())
        return damageOf(v.GetString());
    if (v.IsArray()) {
        for (const auto &e : v.GetArray()) {
            if (const Damage d = firstDamage(e); d != Damage::None)
                return d;
        }
    } else if (v.IsObject()) {
        for (const auto &m : v.GetObject()) {
            if (const Damage d = damageOf(m.name.GetString()); d != Damage::None)
                return d;
            if (const Damage d = firstDamage(m.value); d != Damage::None)
                return d;
        }
    }
    return Damage::None;
}

DecodeError damagedError(Damage damage)
{
    return DecodeError(QStringLiteral("holds ") + damageName(damage));
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

namespace {

int twoDigits(const char *p)
{
    const unsigned a = unsigned(p[0] - '0'), b = unsigned(p[1] - '0');
    return a < 10 && b < 10 ? int(a * 10 + b) : -1;
}

int daysInMonth(int year, int month)
{
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
    return month == 2 && leap ? 29 : kDays[month - 1];
}

// Days since 1970-01-01 of a proleptic Gregorian date.
qint64 daysFromCivil(qint64 y, qint64 m, qint64 d)
{
    y -= m <= 2 ? 1 : 0;
    const qint64 era = y / 400; // years from 1 on: never negative
    const qint64 yoe = y - era * 400;
    const qint64 doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const qint64 doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

} // namespace

std::optional<QDateTime> parseDateUtf8(const char *text, size_t size)
{
    // What formatDate writes, "2024-03-09T14:05:00Z", read straight from the bytes: a load reads
    // hundreds of thousands of them. Any other shape goes to Qt's parser.
    if (size == 20 && text[4] == '-' && text[7] == '-' && text[10] == 'T' && text[13] == ':' &&
        text[16] == ':' && text[19] == 'Z') {
        const int century = twoDigits(text), yy = twoDigits(text + 2), month = twoDigits(text + 5),
                  day = twoDigits(text + 8), hour = twoDigits(text + 11), minute = twoDigits(text + 14),
                  second = twoDigits(text + 17);
        const int year = century * 100 + yy;
        if (century >= 0 && yy >= 0 && year >= 1 && month >= 1 && month <= 12 && day >= 1 &&
            day <= daysInMonth(year, month) && hour >= 0 && hour < 24 && minute >= 0 && minute < 60 &&
            second >= 0 && second < 60) {
            const qint64 secs = daysFromCivil(year, month, day) * 86400 + hour * 3600 + minute * 60 + second;
            return QDateTime::fromSecsSinceEpoch(secs, Qt::UTC);
        }
    }
    return parseDate(QString::fromUtf8(text, qsizetype(size)));
}

DecodeError dateError(const char *text, size_t size)
{
    return DecodeError(QStringLiteral("expected an ISO 8601 date, found \"%1\"")
                           .arg(QString::fromUtf8(text, qsizetype(size))));
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
