#include "api/wire/common.h"

#include "platform/diag.h"

namespace wire {

const rapidjson::Value &requiredList(const rapidjson::Value &obj, const char *key)
{
    const auto it = json::requireObject(obj).FindMember(key);
    if (it == obj.MemberEnd() || it->value.IsNull())
        throw DecodeError(QStringLiteral("Missing key \"%1\"").arg(QLatin1String(key)));
    if (!it->value.IsArray())
        throw DecodeError(QStringLiteral("\"%1\": expected an array, found %2")
                              .arg(QLatin1String(key), json::kindName(it->value)));
    return it->value;
}

void noteSkipped(const char *note, rapidjson::SizeType index, const DecodeError &why)
{
    diag(QStringLiteral("%1 %2 (%3)").arg(QLatin1String(note), QString::number(index), why.message()));
}

} // namespace wire
