#include "json/json_writer.h"

#include "json/json_coder.h"

#include <cmath>
#include <limits>

JsonWriter::JsonWriter() : m_writer(m_buffer) {}

// Readers refuse deeper text, and writing a deeper value would recurse without bound.
void JsonWriter::enter()
{
    if (m_depth >= json::kMaxDepth)
        throw EncodeError(
            QStringLiteral("Invalid JSON value: nested deeper than %1 levels").arg(json::kMaxDepth));
    ++m_depth;
}

void JsonWriter::key(const QString &k)
{
    const QByteArray utf8 = k.toUtf8();
    m_writer.Key(utf8.constData(), rapidjson::SizeType(utf8.size()), true);
}

void JsonWriter::value(const QString &s)
{
    const QByteArray utf8 = s.toUtf8();
    m_writer.String(utf8.constData(), rapidjson::SizeType(utf8.size()), true);
}

void JsonWriter::value(double d)
{
    if (!std::isfinite(d))
        throw EncodeError(QStringLiteral("Invalid JSON value: a number that is NaN or infinite"));
    // 2.0 is written 2; beyond 2^53 the double form is kept so the value reads back the same.
    constexpr double kExact = 9007199254740992.0;
    if (d == std::trunc(d) && std::fabs(d) <= kExact && !(d == 0.0 && std::signbit(d))) {
        m_writer.Int64(qint64(d));
        return;
    }
    m_writer.Double(d);
}

void JsonWriter::value(const QDateTime &d)
{
    char buf[20];
    if (json::formatDateLatin1(d, buf))
        m_writer.String(buf, 20, true);
    else
        value(json::formatDate(d));
}

QByteArray JsonWriter::bytes() const
{
    return QByteArray(m_buffer.GetString(), qsizetype(m_buffer.GetSize()));
}
