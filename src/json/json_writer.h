#pragma once

#include "json/chunked_list.h"
#include "json/json_error.h"
#include "json/json_limits.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QDateTime>
#include <QMap>
#include <QString>

#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <concepts>
#include <map>
#include <optional>
#include <vector>

class JsonWriter;

// A type writes itself with `void toJson(JsonWriter &) const`.
template <typename T>
concept JsonWritable = requires(const T &t, JsonWriter &w) { t.toJson(w); };

namespace json {
// Or it is written by a specialization with `static void write(JsonWriter &, const T &)`, the
// counterpart of json::Reader (the wire types derive theirs from their field list).
template <typename T>
struct Writer {
};
} // namespace json

template <typename T>
concept JsonWrittenBy = requires(const T &t, JsonWriter &w) { json::Writer<T>::write(w, t); };

// Compact JSON writer straight from records, with no intermediate document.
class JsonWriter
{
public:
    JsonWriter();

    // Each throws EncodeError when it would nest deeper than json::kMaxDepth.
    void startObject()
    {
        enter();
        m_writer.StartObject();
    }
    void endObject()
    {
        --m_depth;
        m_writer.EndObject();
    }
    void startArray()
    {
        enter();
        m_writer.StartArray();
    }
    void endArray()
    {
        --m_depth;
        m_writer.EndArray();
    }
    void key(const char *k) { m_writer.Key(k); }
    void key(const QString &k);

    void value(const QString &s);
    void value(const char *s) { m_writer.String(s); }
    void value(qint64 i) { m_writer.Int64(i); }
    void value(int i) { m_writer.Int64(i); }
    void value(bool b) { m_writer.Bool(b); }
    void value(double d); // whole values as integers; throws EncodeError for NaN/infinity
    void value(const QDateTime &d); // ISO 8601, UTC, whole seconds
    void null() { m_writer.Null(); }

    template <JsonWritable T>
    void value(const T &t) { t.toJson(*this); }
    template <JsonWrittenBy T>
    void value(const T &t) { json::Writer<T>::write(*this, t); }
    template <typename T>
    void value(const std::vector<T> &list) { array(list); }
    template <typename T>
    void value(const ChunkedList<T> &list) { array(list); }
    template <typename T>
    void value(const QList<T> &list) { array(list); }
    template <typename T>
    void value(const std::map<QString, T> &map)
    {
        startObject();
        for (const auto &[k, v] : map) {
            key(k);
            value(v);
        }
        endObject();
    }
    template <typename T>
    void value(const QMap<QString, T> &map)
    {
        startObject();
        for (auto it = map.cbegin(); it != map.cend(); ++it) {
            key(it.key());
            value(it.value());
        }
        endObject();
    }

    // A required field: always written.
    template <typename T>
    void field(const char *k, const T &v)
    {
        key(k);
        value(v);
    }
    // An optional field: left out when absent.
    template <typename T>
    void field(const char *k, const std::optional<T> &v)
    {
        if (v) {
            key(k);
            value(*v);
        }
    }

    QByteArray bytes() const;
    // The written text without a copy; valid while the writer lives and is not written to.
    QByteArrayView view() const { return QByteArrayView(m_buffer.GetString(), qsizetype(m_buffer.GetSize())); }

private:
    void enter();
    template <typename List>
    void array(const List &list)
    {
        startArray();
        for (const auto &e : list)
            value(e);
        endArray();
    }

    rapidjson::StringBuffer m_buffer;
    rapidjson::Writer<rapidjson::StringBuffer, rapidjson::UTF8<>, rapidjson::UTF8<>, rapidjson::CrtAllocator,
                      rapidjson::kWriteDefaultFlags>
        m_writer;
    int m_depth = 0;
};
