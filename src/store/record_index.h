#pragma once

#include <QHash>
#include <QString>

#include <vector>

// Positions of the first record per localID and per nonzero serverID, kept in step by the store's
// own operations and rebuilt lazily after an edit through LocalStore::change. LocalIDs are indexed
// by their hash: a table keyed by the strings themselves compares scattered strings on every probe
// and builds several times slower.
template <typename T>
class RecordIndex
{
public:
    explicit RecordIndex(const std::vector<T> &list)
        : m_list(list)
    {
    }

    void stale()
    {
        m_built = false;
        m_byLocal.clear();
        m_byServer.clear();
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

    qsizetype withServerID(qint64 id)
    {
        if (id == 0)
            return -1;
        build();
        const auto it = m_byServer.constFind(id);
        return it == m_byServer.cend() ? -1 : it->first;
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
        if (before.serverID != now.serverID) {
            if (before.serverID != 0)
                drop(m_byServer, before.serverID, at, [](const T &r) { return r.serverID; });
            if (now.serverID != 0)
                add(m_byServer, now.serverID, at);
        }
    }

    void appended() { appended(qsizetype(m_list.size()) - 1); }
    void appended(qsizetype at)
    {
        if (m_built)
            addRecord(at);
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
        m_byServer.reserve(qsizetype(m_list.size()));
        for (qsizetype i = 0; i < qsizetype(m_list.size()); ++i)
            addRecord(i);
        m_built = true;
    }

    void addRecord(qsizetype at)
    {
        const T &r = m_list[size_t(at)];
        add(m_byLocal, localKey(r.localID), at);
        if (r.serverID != 0)
            add(m_byServer, r.serverID, at);
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
    QHash<qint64, Slot> m_byServer;
};
