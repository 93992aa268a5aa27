#include "store/store_state.h"

#include "json/json_reader.h"

#include <QStringList>

namespace {

// The member `key` when present and not null, else nothing (noted).
const rapidjson::Value *member(const rapidjson::Value &v, const char *key, StoreStateDrops &dropped)
{
    const auto it = v.FindMember(key);
    if (it != v.MemberEnd() && !it->value.IsNull())
        return &it->value;
    dropped.note(QLatin1String(key), QLatin1String(key), QStringLiteral("missing"));
    return nullptr;
}

template <typename T>
T scalar(const rapidjson::Value &v, const char *key, StoreStateDrops &dropped)
{
    const rapidjson::Value *value = member(v, key, dropped);
    if (!value)
        return T{};
    try {
        return json::read<T>(*value);
    } catch (const DecodeError &e) {
        dropped.note(QLatin1String(key), QLatin1String(key), e.message());
        return T{};
    }
}

template <typename T>
std::vector<T> records(const rapidjson::Value &v, const char *key, StoreStateDrops &dropped)
{
    std::vector<T> out;
    const rapidjson::Value *list = member(v, key, dropped);
    if (!list)
        return out;
    try {
        json::requireArray(*list);
    } catch (const DecodeError &e) {
        dropped.note(QLatin1String(key), QLatin1String(key), e.message());
        return out;
    }
    out.reserve(list->Size());
    for (rapidjson::SizeType i = 0; i < list->Size(); ++i) {
        try {
            out.push_back(json::read<T>((*list)[i]));
        } catch (const DecodeError &e) {
            dropped.note(QLatin1String(key), QStringLiteral("%1[%2]").arg(QLatin1String(key)).arg(i),
                         e.message());
        }
    }
    return out;
}

template <typename T>
QMap<QString, T> entries(const rapidjson::Value &v, const char *key, StoreStateDrops &dropped)
{
    QMap<QString, T> out;
    const rapidjson::Value *map = member(v, key, dropped);
    if (!map)
        return out;
    try {
        json::requireObject(*map);
    } catch (const DecodeError &e) {
        dropped.note(QLatin1String(key), QLatin1String(key), e.message());
        return out;
    }
    for (const auto &m : map->GetObject()) {
        const QString name = QString::fromUtf8(m.name.GetString(), m.name.GetStringLength());
        try {
            out.insert(name, json::read<T>(m.value));
        } catch (const DecodeError &e) {
            dropped.note(QLatin1String(key), QStringLiteral("%1[\"%2\"]").arg(QLatin1String(key), name),
                         e.message());
        }
    }
    return out;
}

} // namespace

void StoreStateDrops::note(const QString &key, const QString &where, const QString &reason)
{
    if (counts.isEmpty())
        first = where + QStringLiteral(": ") + reason;
    ++counts[key];
}

QString StoreStateDrops::summary() const
{
    QStringList parts;
    for (auto it = counts.cbegin(); it != counts.cend(); ++it)
        parts << QStringLiteral("%1 %2").arg(it.key()).arg(it.value());
    return parts.join(QStringLiteral(", ")) + QStringLiteral(" (first: ") + first + QLatin1Char(')');
}

StoreState StoreState::fromJson(const rapidjson::Value &v)
{
    return StoreState{
        .workspaces = json::field<std::vector<FNWorkspace>>(v, "workspaces"),
        .currentWorkspaceID = json::field<qint64>(v, "currentWorkspaceID"),
        .folders = json::field<std::vector<FNFolder>>(v, "folders"),
        .pages = json::field<std::vector<FNPage>>(v, "pages"),
        .blocks = json::field<std::vector<FNBlock>>(v, "blocks"),
        .outbox = json::field<std::vector<FNSyncOp>>(v, "outbox"),
        .cursorServerTs = json::field<qint64>(v, "cursorServerTs"),
        .pageStatuses = json::field<QMap<QString, FNPageStatus>>(v, "pageStatuses"),
        .expandedRowIDs = json::field<std::vector<QString>>(v, "expandedRowIDs"),
    };
}

StoreState StoreState::fromJsonByRecord(const rapidjson::Value &v, StoreStateDrops &dropped)
{
    json::requireObject(v);
    return StoreState{
        .workspaces = records<FNWorkspace>(v, "workspaces", dropped),
        .currentWorkspaceID = scalar<qint64>(v, "currentWorkspaceID", dropped),
        .folders = records<FNFolder>(v, "folders", dropped),
        .pages = records<FNPage>(v, "pages", dropped),
        .blocks = records<FNBlock>(v, "blocks", dropped),
        .outbox = records<FNSyncOp>(v, "outbox", dropped),
        .cursorServerTs = scalar<qint64>(v, "cursorServerTs", dropped),
        .pageStatuses = entries<FNPageStatus>(v, "pageStatuses", dropped),
        .expandedRowIDs = records<QString>(v, "expandedRowIDs", dropped),
    };
}

void StoreState::toJson(JsonWriter &w) const
{
    w.startObject();
    w.field("workspaces", workspaces);
    w.field("currentWorkspaceID", currentWorkspaceID);
    w.field("folders", folders);
    w.field("pages", pages);
    w.field("blocks", blocks);
    w.field("outbox", outbox);
    w.field("cursorServerTs", cursorServerTs);
    w.field("pageStatuses", pageStatuses);
    w.field("expandedRowIDs", expandedRowIDs);
    w.endObject();
}
