#pragma once

#include "json/json_reader.h"
#include "json/json_writer.h"

#include <QHashFunctions>
#include <QMap>
#include <QString>

#include <rapidjson/document.h>

#include <optional>
#include <tuple>
#include <type_traits>
#include <vector>

// Every wire type lists its fields once, in the order they are written:
//     static constexpr std::tuple kFields{wire::Field{"id", &PageDTO::id}, ...};
// Reading, writing, hashing and equality are derived from that list, in the manner of libQuotient's
// JsonObjectConverter. A std::optional member is optional (missing or null reads as absent, absent is
// left out when writing); any other member is required (missing, null or of the wrong kind fails the
// whole value, as json::field says). Unknown keys are ignored.
namespace wire {

template <typename C, typename M>
struct Field {
    const char *key;
    M C::*member;
};
template <typename C, typename M>
Field(const char *, M C::*) -> Field<C, M>;

// A required list whose unreadable items are left out with a diagnostic line ("<note> <index> (<why>)")
// instead of failing the whole value. Such lists are read after every other field, so a value that fails
// whole notes no skipped item. The type also declares kSkipsUnreadableItems (see sharedJSONDecode).
template <typename C, typename E>
struct SkippingList {
    const char *key;
    std::vector<E> C::*member;
    const char *note;
};
template <typename C, typename E>
SkippingList(const char *, std::vector<E> C::*, const char *) -> SkippingList<C, E>;

template <typename T>
concept Described = requires { T::kFields; };

template <typename T>
inline constexpr bool kIsOptional = false;
template <typename T>
inline constexpr bool kIsOptional<std::optional<T>> = true;

template <typename F>
inline constexpr bool kIsSkippingList = false;
template <typename C, typename E>
inline constexpr bool kIsSkippingList<SkippingList<C, E>> = true;

template <typename Tuple>
inline constexpr bool kHasSkippingList = false;
template <typename... Fs>
inline constexpr bool kHasSkippingList<std::tuple<Fs...>> = (kIsSkippingList<Fs> || ...);

// The member `key` of `obj` as an array: throws DecodeError when it is missing, null or not an array.
const rapidjson::Value &requiredList(const rapidjson::Value &obj, const char *key);
void noteSkipped(const char *note, rapidjson::SizeType index, const DecodeError &why);

template <typename C, typename M>
void readField(const rapidjson::Value &v, C &out, const Field<C, M> &f)
{
    if constexpr (kIsOptional<M>)
        out.*f.member = json::optField<typename M::value_type>(v, f.key);
    else
        out.*f.member = json::field<M>(v, f.key);
}
template <typename C, typename E>
void readField(const rapidjson::Value &, C &, const SkippingList<C, E> &)
{
}

template <typename C, typename M>
void readSkippingList(const rapidjson::Value &, C &, const Field<C, M> &)
{
}
template <typename C, typename E>
void readSkippingList(const rapidjson::Value &v, C &out, const SkippingList<C, E> &f)
{
    const rapidjson::Value &items = requiredList(v, f.key);
    std::vector<E> &list = out.*f.member;
    list.reserve(items.Size());
    rapidjson::SizeType index = 0;
    for (const auto &item : items.GetArray()) {
        try {
            list.push_back(json::read<E>(item));
        } catch (const DecodeError &e) {
            noteSkipped(f.note, index, e);
        }
        ++index;
    }
}

template <Described T>
T readObject(const rapidjson::Value &v)
{
    static_assert(
        !kHasSkippingList<std::remove_cv_t<decltype(T::kFields)>> || requires { T::kSkipsUnreadableItems; },
        "a type with a SkippingList declares kSkipsUnreadableItems");
    T out;
    std::apply([&](const auto &...f) { (readField(v, out, f), ...); }, T::kFields);
    std::apply([&](const auto &...f) { (readSkippingList(v, out, f), ...); }, T::kFields);
    return out;
}

template <Described T>
void writeObject(JsonWriter &w, const T &v)
{
    w.startObject();
    std::apply([&](const auto &...f) { (w.field(f.key, v.*f.member), ...); }, T::kFields);
    w.endObject();
}

template <typename T>
size_t hashOf(const std::optional<T> &v, size_t seed);
template <typename T>
size_t hashOf(const std::vector<T> &list, size_t seed);
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

template <typename T>
size_t hashOf(const std::vector<T> &list, size_t seed)
{
    size_t h = qHash(list.size(), seed);
    for (const auto &e : list)
        h = qHashMulti(seed, h, hashOf(e, seed));
    return h;
}

template <typename T>
size_t hashOf(const QMap<QString, T> &map, size_t seed)
{
    size_t h = qHash(map.size(), seed);
    for (auto it = map.cbegin(); it != map.cend(); ++it)
        h = qHashMulti(seed, h, qHash(it.key(), seed), hashOf(it.value(), seed));
    return h;
}

// The hash of a record from its fields in order; also used by the store's records.
template <typename... Ts>
size_t hashAll(size_t seed, const Ts &...fields)
{
    size_t h = seed;
    ((h = qHashMulti(seed, h, hashOf(fields, seed))), ...);
    return h;
}

} // namespace wire

namespace json {
template <wire::Described T>
struct Reader<T> {
    static T read(const rapidjson::Value &v) { return wire::readObject<T>(v); }
};
template <wire::Described T>
struct Writer<T> {
    static void write(JsonWriter &w, const T &v) { wire::writeObject(w, v); }
};
} // namespace json

template <wire::Described T>
bool operator==(const T &a, const T &b)
{
    return std::apply([&](const auto &...f) { return ((a.*f.member == b.*f.member) && ...); }, T::kFields);
}

// Qt derives the seeded form from this one (qHash(v) ^ seed); a seeded one of our own would be ambiguous
// with that.
template <wire::Described T>
size_t qHash(const T &v) noexcept
{
    return std::apply([&](const auto &...f) { return wire::hashAll(0, v.*f.member...); }, T::kFields);
}

// A reply whose content the caller does not need: any well-formed JSON body is accepted.
struct EmptyReply {
    static EmptyReply fromJson(const rapidjson::Value &) { return {}; }
};
