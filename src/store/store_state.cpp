#include "store/store_state.h"

#include "json/json_reader.h"

#include <QStringList>

namespace {

template <typename T>
T scalar(const rapidjson::Value &value, const char *key, StoreStateDrops &dropped)
{
    try {
        return json::read<T>(value);
    } catch (const DecodeError &e) {
        dropped.note(QLatin1String(key), QLatin1String(key), e.message());
        return T{};
    }
}

// A record that reads may still hold a damaged value where it reads nothing (a key of its own, a
// member it does not know): its text is not what was written, so it is left out all the same.
void undamaged(const rapidjson::Value &record)
{
    if (const json::Damage damage = json::firstDamage(record); damage != json::Damage::None)
        throw json::damagedError(damage);
}

template <typename List>
List records(const rapidjson::Value &list, const char *key, StoreStateDrops &dropped)
{
    using T = typename List::value_type;
    List out;
    try {
        json::requireArray(list);
    } catch (const DecodeError &e) {
        dropped.note(QLatin1String(key), QLatin1String(key), e.message());
        return out;
    }
    out.reserve(list.Size());
    for (rapidjson::SizeType i = 0; i < list.Size(); ++i) {
        try {
            T record = json::read<T>(list[i]);
            undamaged(list[i]);
            out.push_back(std::move(record));
        } catch (const DecodeError &e) {
            dropped.note(QLatin1String(key), QStringLiteral("%1[%2]").arg(QLatin1String(key)).arg(i),
                         e.message());
        }
    }
    return out;
}

template <typename T>
QMap<QString, T> entries(const rapidjson::Value &map, const char *key, StoreStateDrops &dropped)
{
    QMap<QString, T> out;
    try {
        json::requireObject(map);
    } catch (const DecodeError &e) {
        dropped.note(QLatin1String(key), QLatin1String(key), e.message());
        return out;
    }
    for (const auto &m : map.GetObject()) {
        const QString name = QString::fromUtf8(m.name.GetString(), m.name.GetStringLength());
        try {
            if (const json::Damage damage = json::damageOf(m.name.GetString()); damage != json::Damage::None)
                throw json::damagedError(damage);
            T record = json::read<T>(m.value);
            undamaged(m.value);
            out.insert(name, std::move(record));
        } catch (const DecodeError &e) {
            dropped.note(QLatin1String(key), QStringLiteral("%1[\"%2\"]").arg(QLatin1String(key), name),
                         e.message());
        }
    }
    return out;
}

// A list or a map keeps the entries that read; anything else takes its empty value when it does not.
template <typename T>
void readByRecord(const rapidjson::Value &v, const char *key, T &out, StoreStateDrops &dropped)
{
    out = scalar<T>(v, key, dropped);
}
template <typename T>
void readByRecord(const rapidjson::Value &v, const char *key, std::vector<T> &out, StoreStateDrops &dropped)
{
    out = records<std::vector<T>>(v, key, dropped);
}
template <typename T>
void readByRecord(const rapidjson::Value &v, const char *key, ChunkedList<T> &out, StoreStateDrops &dropped)
{
    out = records<ChunkedList<T>>(v, key, dropped);
}
template <typename T>
void readByRecord(const rapidjson::Value &v, const char *key, QMap<QString, T> &out, StoreStateDrops &dropped)
{
    out = entries<T>(v, key, dropped);
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

void StoreStateDrops::add(const StoreStateDrops &other)
{
    if (other.isEmpty())
        return;
    if (counts.isEmpty())
        first = other.first;
    for (auto it = other.counts.cbegin(); it != other.counts.cend(); ++it)
        counts[it.key()] += it.value();
}

void StoreState::readMember(size_t index, const rapidjson::Value *value, StoreStateDrops &dropped)
{
    size_t at = 0;
    std::apply(
        [&](const auto &...f) {
            const auto one = [&](const auto &field) {
                if (at++ != index)
                    return;
                if (value && !value->IsNull())
                    readByRecord(*value, field.key, this->*field.member, dropped);
                else if (!json::kMayBeMissing<std::remove_cvref_t<decltype(field)>>)
                    dropped.note(QLatin1String(field.key), QLatin1String(field.key),
                                 QStringLiteral("missing"));
            };
            (one(f), ...);
        },
        kFields);
}

StoreState StoreState::fromJsonByRecord(const rapidjson::Value &v, StoreStateDrops &dropped)
{
    json::requireObject(v);
    StoreState out;
    size_t index = 0;
    std::apply(
        [&](const auto &...f) {
            const auto one = [&](const auto &field) {
                const auto it = v.FindMember(field.key);
                out.readMember(index++, it != v.MemberEnd() ? &it->value : nullptr, dropped);
            };
            (one(f), ...);
        },
        kFields);
    return out;
}
