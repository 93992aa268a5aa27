#include "api/auth_user.h"

#include "api/wire_hash.h"
#include "json/json_reader.h"

AuthUser AuthUser::fromJson(const rapidjson::Value &v)
{
    AuthUser r;
    r.id = json::field<qint64>(v, "id");
    r.name = json::field<QString>(v, "name");
    r.email = json::field<QString>(v, "email");
    return r;
}

void AuthUser::toJson(JsonWriter &w) const
{
    w.startObject();
    w.field("id", id);
    w.field("name", name);
    w.field("email", email);
    w.endObject();
}

size_t qHash(const AuthUser &v, size_t seed) noexcept
{
    return wire::hashAll(seed, v.id, v.name, v.email);
}
