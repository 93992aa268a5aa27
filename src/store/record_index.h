#pragma once

#include "store/group_index.h"
#include "store/record_list.h"
#include "store/sharded_hash.h"

#include <QString>

#include <algorithm>
#include <mutex>
#include <vector>

// Positions of the first record per localID, and of every record per nonzero serverID, kept in step
// by the store's own operations; built a slice at a time as GroupIndex is, under the same mutex.
// LocalIDs are indexed by their hash: a table keyed by the strings themselves compares scattered
// strings on every probe and builds several times slower.
template <typename T>
class RecordIndex
{
public:
    RecordIndex(const RecordList<T> &list, std::recursive_mutex &listMutex)
        : m_list(list)
        , m_mutex(listMutex)
        , m_byServer(
              list, [](const T &r) { return r.serverID; }, listMutex)
    {
    }

    void stale()
    {
        std::lock_guard lock(m_mutex);
        m_builtTo = 0;
        m_byLocal.clear();
        m_byServer.stale();
    }

    // Covers up to `count` more records with the local ids, then with the server ids; false once
    // both cover the whole list.
    bool buildSome(size_t count)
    {
        std::lock_guard lock(m_mutex);
        return coverLocal(count) || m_byServer.buildSome(count);
    }

    qsizetype withLocalID(const QString &id)
    {
        std::lock_guard lock(m_mutex);
        build();
        const Slot *slot = m_byLocal.find(localKey(id));
        if (!slot)
            return -1;
        // Every record with this id lies at or after the first one with its hash.
        for (size_t i = size_t(slot->first); i < m_list.size(); ++i) {
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
        std::lock_guard lock(m_mutex);
        m_byServer.replaced(at, before);
        if (size_t(at) >= m_builtTo)
            return;
        const T &now = m_list[size_t(at)];
        if (before.localID != now.localID) {
            drop(m_byLocal, localKey(before.localID), at, [](const T &r) { return localKey(r.localID); });
            add(m_byLocal, localKey(now.localID), at);
        }
    }

    void appended() { appended(qsizetype(m_list.size()) - 1); }
    void appended(qsizetype at)
    {
        std::lock_guard lock(m_mutex);
        if (size_t(at) == m_builtTo) {
            addRecord(at);
            ++m_builtTo;
        }
        m_byServer.appended(at);
    }

private:
    // Positions holding a key: the first of them, and how many there are.
    struct Slot {
        qsizetype first = -1;
        qsizetype count = 0;
    };

    static size_t localKey(const QString &id) { return qHash(id, 0); }

    void build() { coverLocal(m_list.size()); }

    // Indexes the local ids of up to `count` more records; false when all were indexed already.
    bool coverLocal(size_t count)
    {
        const size_t end = std::min(m_list.size(), m_builtTo + count);
        if (m_builtTo == end)
            return false;
        m_byLocal.reserve(qsizetype(m_list.size()));
        for (; m_builtTo < end; ++m_builtTo)
            addRecord(qsizetype(m_builtTo));
        return true;
    }

    void addRecord(qsizetype at)
    {
        const T &r = m_list[size_t(at)];
        add(m_byLocal, localKey(r.localID), at);
    }

    template <typename K>
    static void add(ShardedHash<K, Slot> &hash, K key, qsizetype at)
    {
        Slot &slot = hash[key];
        if (slot.count == 0 || at < slot.first)
            slot.first = at;
        ++slot.count;
    }

    template <typename K, typename KeyOf>
    void drop(ShardedHash<K, Slot> &hash, K key, qsizetype at, KeyOf keyOf)
    {
        Slot *slot = hash.find(key);
        if (!slot)
            return;
        if (--slot->count == 0) {
            hash.erase(key);
            return;
        }
        if (slot->first != at)
            return;
        // Only a shared key gets here: its next holder covered becomes the first.
        for (size_t i = size_t(at) + 1; i < m_builtTo; ++i) {
            if (keyOf(m_list[i]) == key) {
                slot->first = qsizetype(i);
                return;
            }
        }
    }

    const RecordList<T> &m_list;
    std::recursive_mutex &m_mutex;
    size_t m_builtTo = 0; // the records before it have their local ids indexed
    ShardedHash<size_t, Slot> m_byLocal;
    GroupIndex<T, qint64> m_byServer;
};
