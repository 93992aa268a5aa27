#include "api/json_reader.h"

#include "api/json_coder.h"

#include <rapidjson/error/en.h>

#include <cmath>

namespace json {

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
    if (!v.IsString())
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

void parseDocument(rapidjson::Document &doc, const QByteArray &bytes)
{
    // Full precision so doubles read back exactly as written; invalid UTF-8 is malformed JSON.
    doc.Parse<rapidjson::kParseFullPrecisionFlag | rapidjson::kParseValidateEncodingFlag>(bytes.constData(), size_t(bytes.size()));
    if (doc.HasParseError())
        throw DecodeError(QStringLiteral("Malformed JSON at offset %1: %2")
                              .arg(doc.GetErrorOffset())
                              .arg(QString::fromUtf8(rapidjson::GetParseError_En(doc.GetParseError()))));
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
    // Whole seconds, as the shared coder writes them.
    return d.addMSecs(-(d.time().msec()));
}

} // namespace json
