#pragma once

#include "store/group_index.h"

#include <QHash>
#include <QString>

#include <vector>

// Positions of the first record per localID, and of every record per nonzero serverID, kept in step
// by the store's own operations and rebuilt lazily after an edit through LocalStore::change. LocalIDs are
// indexed by their hash: a table keyed by the strings themselves compares scattered strings on every probe
// and builds several times slower.
template <typename T>
class RecordIndex
{
public:
    explicit RecordIndex(const std::vector<T> &list)
        : m_list(list)
        , m_byServer(list, [](const T &r) { return r.serverID; })
    {
    }

    void stale()
    {
        m_built = false;
        m_byLocal.clear();
        m_byServer.stale();
    }

    qsizetype withLocalID(const QString &id)
    {
        build();
        const auto it = m_byLocal.constFind(localKey(id));
        if (it == m_byLocal.cend())
            return -1;
        // Every record with this id lies at or after the first one with its hash.
        for (size_t i = size_t(it->first); i < m_list.size(); ++i) {
            if (m_list[i].localID == id)
                return qsizetype(i);
        }
        return -1;
    }

    // The first record with the id, deleted ones included.
    qsizetype withServerID(qint64 id)
    {
        const auto &all = m_byServer.positions(id);
        return all.empty() ? -1 : all.front();
    }

    // Every record with the id, in store order.
    const std::vector<qsizetype> &allWithServerID(qint64 id) { return m_byServer.positions(id); }

    // The first record with the id that is not deleted: an older deleted copy does not hide it.
    qsizetype liveWithServerID(qint64 id)
    {
        for (const qsizetype at : m_byServer.positions(id)) {
            if (!m_list[size_t(at)].deletedAt)
                return at;
        }
        return -1;
    }

    // The first live record with the id, else the first deleted one.
    qsizetype preferLiveWithServerID(qint64 id)
    {
        const qsizetype live = liveWithServerID(id);
        return live >= 0 ? live : withServerID(id);
    }

    // The record at `at` was replaced; `before` is what it held.
    void replaced(qsizetype at, const T &before)
    {
        if (!m_built)
            return;
        const T &now = m_list[size_t(at)];
        if (before.localID != now.localID) {
            drop(m_byLocal, localKey(before.localID), at, [](const T &r) { return localKey(r.localID); });
            add(m_byLocal, localKey(now.localID), at);
        }
        m_byServer.replaced(at, before);
    }

    void appended() { appended(qsizetype(m_list.size()) - 1); }
    void appended(qsizetype at)
    {
        if (m_built)
            addRecord(at);
        m_byServer.appended(at);
    }

private:
    // Positions holding a key: the first of them, and how many there are.
    struct Slot {
        qsizetype first = -1;
        qsizetype count = 0;
    };

    static size_t localKey(const QString &id) { return qHash(id, 0); }

    void build()
    {
        if (m_built)
            return;
        m_byLocal.reserve(qsizetype(m_list.size()));
        for (qsizetype i = 0; i < qsizetype(m_list.size()); ++i)
            addRecord(i);
        m_built = true;
    }

    void addRecord(qsizetype at)
    {
        const T &r = m_list[size_t(at)];
        add(m_byLocal, localKey(r.localID), at);
    }

    template <typename K>
    static void add(QHash<K, Slot> &hash, K key, qsizetype at)
    {
        Slot &slot = hash[key];
        if (slot.count == 0 || at < slot.first)
            slot.first = at;
        ++slot.count;
    }

    template <typename K, typename KeyOf>
    void drop(QHash<K, Slot> &hash, K key, qsizetype at, KeyOf keyOf)
    {
        const auto it = hash.find(key);
        if (it == hash.end())
            return;
        if (--it->count == 0) {
            hash.erase(it);
            return;
        }
        if (it->first != at)
            return;
        // Only a shared key gets here: its next holder becomes the first.
        for (size_t i = size_t(at) + 1; i < m_list.size(); ++i) {
            if (keyOf(m_list[i]) == key) {
                it->first = qsizetype(i);
                return;
            }
        }
    }

    const std::vector<T> &m_list;
    bool m_built = false;
    QHash<size_t, Slot> m_byLocal;
    GroupIndex<T, qint64> m_byServer;
};
