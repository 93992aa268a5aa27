#pragma once

#include "json/json_fields.h"

#include <rapidjson/document.h>

#include <vector>

// Every wire type lists its fields once, in the order they are written, with json::Field (see
// json/json_fields.h); reading, writing, hashing and equality are derived from that list.
namespace wire {

// The member `key` of `obj` as an array: throws DecodeError when it is missing, null or not an array.
const rapidjson::Value &requiredList(const rapidjson::Value &obj, const char *key);
void noteSkipped(const char *note, rapidjson::SizeType index, const DecodeError &why);

// A required list whose unreadable items are left out with a diagnostic line ("<note> <index> (<why>)")
// instead of failing the whole value. Such lists are read after every other field, so a value that fails
// whole notes no skipped item. The type also declares kSkipsUnreadableItems (see sharedJSONDecode).
template <typename C, typename E>
struct SkippingList {
    static constexpr bool kReadLast = true;

    const char *key;
    std::vector<E> C::*member;
    const char *note;

    void read(const rapidjson::Value &v, C &out) const
    {
        static_assert(
            requires { C::kSkipsUnreadableItems; },
            "a type with a SkippingList declares kSkipsUnreadableItems");
        const rapidjson::Value &items = requiredList(v, key);
        std::vector<E> &list = out.*member;
        list.reserve(items.Size());
        rapidjson::SizeType index = 0;
        for (const auto &item : items.GetArray()) {
            try {
                list.push_back(json::read<E>(item));
            } catch (const DecodeError &e) {
                noteSkipped(note, index, e);
            }
            ++index;
        }
    }
    void write(JsonWriter &w, const C &in) const { w.field(key, in.*member); }
};
template <typename C, typename E>
SkippingList(const char *, std::vector<E> C::*, const char *) -> SkippingList<C, E>;

} // namespace wire

// A reply whose content the caller does not need: any well-formed JSON body is accepted.
struct EmptyReply {
    static EmptyReply fromJson(const rapidjson::Value &) { return {}; }
};
