#pragma once

#include "json/json_reader.h"
#include "json/json_writer.h"

#include <QHashFunctions>
#include <QMap>
#include <QString>

#include <rapidjson/document.h>

#include <optional>
#include <tuple>
#include <vector>

// A wire type or a stored record lists its fields once, in the order they are written:
//     static constexpr std::tuple kFields{json::Field{"localID", &FNBlock::localID}, ...};
// Reading, writing, hashing and equality are derived from that list, in the manner of libQuotient's
// JsonObjectConverter. Unknown keys are ignored. An entry is any descriptor with `key`, `member`,
// `read(value, out)` and `write(writer, in)`; one that declares `kReadLast = true` is read after the others.
namespace json {

template <typename T>
inline constexpr bool kIsOptional = false;
template <typename T>
inline constexpr bool kIsOptional<std::optional<T>> = true;

// A std::optional member is optional (missing or null reads as absent, absent is left out when
// writing); any other member is required (missing, null or of the wrong kind fails the whole value,
// as json::field says).
template <typename C, typename M>
struct Field {
    const char *key;
    M C::*member;

    void read(const rapidjson::Value &v, C &out) const
    {
        if constexpr (kIsOptional<M>)
            out.*member = optField<typename M::value_type>(v, key);
        else
            out.*member = field<M>(v, key);
    }
    void write(JsonWriter &w, const C &in) const { w.field(key, in.*member); }
};
template <typename C, typename M>
Field(const char *, M C::*) -> Field<C, M>;

// A flag left out while false: missing or null reads as false, any other kind but a boolean fails.
template <typename C>
struct Flag {
    const char *key;
    bool C::*member;

    void read(const rapidjson::Value &v, C &out) const
    {
        out.*member = optField<bool>(v, key).value_or(false);
    }
    void write(JsonWriter &w, const C &in) const
    {
        if (in.*member)
            w.field(key, true);
    }
};
template <typename C>
Flag(const char *, bool C::*) -> Flag<C>;

// A list (or a count) files written by older builds lack: missing reads as empty, not as a loss; left
// out while empty, so such a file is written back as it was.
template <typename C, typename M>
struct Missable {
    const char *key;
    M C::*member;
    static constexpr bool kMayBeMissing = true;

    void read(const rapidjson::Value &v, C &out) const { out.*member = optField<M>(v, key).value_or(M{}); }
    void write(JsonWriter &w, const C &in) const
    {
        if constexpr (requires { (in.*member).empty(); }) {
            if ((in.*member).empty())
                return;
        } else if (in.*member == M{}) {
            return;
        }
        w.field(key, in.*member);
    }
};
template <typename C, typename M>
Missable(const char *, M C::*) -> Missable<C, M>;

template <typename F>
inline constexpr bool kMayBeMissing = requires
{
    requires F::kMayBeMissing;
};

template <typename T>
concept Described = requires
{
    T::kFields;
};

template <typename F>
inline constexpr bool kReadsLast = requires
{
    requires F::kReadLast;
};

template <bool Last, typename F, typename C>
void readInPass(const F &f, const rapidjson::Value &v, C &out)
{
    if constexpr (kReadsLast<F> == Last)
        f.read(v, out);
}

template <Described T>
T readObject(const rapidjson::Value &v)
{
    // Every listed member is assigned below, so a copy of one default value serves: a record's own
    // defaults (a fresh id, the current time) would cost more than reading it.
    static const T kBlank;
    T out = kBlank;
    std::apply([&](const auto &...f) { (readInPass<false>(f, v, out), ...); }, T::kFields);
    std::apply([&](const auto &...f) { (readInPass<true>(f, v, out), ...); }, T::kFields);
    return out;
}

template <Described T>
void writeObject(JsonWriter &w, const T &v)
{
    w.startObject();
    std::apply([&](const auto &...f) { (f.write(w, v), ...); }, T::kFields);
    w.endObject();
}

template <typename T>
size_t hashOf(const std::optional<T> &v, size_t seed);
template <typename T>
size_t hashOf(const std::vector<T> &list, size_t seed);
template <typename T>
size_t hashOf(const ChunkedList<T> &list, size_t seed);
template <typename T>
size_t hashOf(const QMap<QString, T> &map, size_t seed);

template <typename T>
size_t hashOf(const T &v, size_t seed)
{
    return qHash(v, seed);
}

template <typename T>
size_t hashOf(const std::optional<T> &v, size_t seed)
{
    // Absent and present hash apart even when the present value hashes to the seed.
    return v ? qHashMulti(seed, true, hashOf(*v, seed)) : qHash(false, seed);
}

template <typename List>
size_t hashOfList(const List &list, size_t seed)
{
    size_t h = qHash(list.size(), seed);
    for (const auto &e : list)
        h = qHashMulti(seed, h, hashOf(e, seed));
    return h;
}

template <typename T>
size_t hashOf(const std::vector<T> &list, size_t seed)
{
    return hashOfList(list, seed);
}

template <typename T>
size_t hashOf(const ChunkedList<T> &list, size_t seed)
{
    return hashOfList(list, seed);
}

template <typename T>
size_t hashOf(const QMap<QString, T> &map, size_t seed)
{
    size_t h = qHash(map.size(), seed);
    for (auto it = map.cbegin(); it != map.cend(); ++it)
        h = qHashMulti(seed, h, qHash(it.key(), seed), hashOf(it.value(), seed));
    return h;
}

// The hash of a value from its fields in order.
template <typename... Ts>
size_t hashAll(size_t seed, const Ts &...fields)
{
    size_t h = seed;
    ((h = qHashMulti(seed, h, hashOf(fields, seed))), ...);
    return h;
}

template <Described T>
struct Reader<T> {
    static T read(const rapidjson::Value &v) { return readObject<T>(v); }
};
template <Described T>
struct Writer<T> {
    static void write(JsonWriter &w, const T &v) { writeObject(w, v); }
};

} // namespace json

template <json::Described T>
bool operator==(const T &a, const T &b)
{
    return std::apply([&](const auto &...f) { return ((a.*f.member == b.*f.member) && ...); }, T::kFields);
}

// Qt derives the seeded form from this one (qHash(v) ^ seed); a seeded one of our own would be ambiguous
// with that.
template <json::Described T>
size_t qHash(const T &v) noexcept
{
    return std::apply([&](const auto &...f) { return json::hashAll(0, v.*f.member...); }, T::kFields);
}
