#pragma once

#include <QHash>

#include <algorithm>
#include <vector>

// The positions of the records that share a key, in store order, kept in step by the store's own
// operations and rebuilt lazily after a bulk edit. A record whose key is the type's empty value (0,
// "") is not indexed: that value means "none" for every key indexed this way.
template <typename T, typename Key>
class GroupIndex
{
public:
    using KeyOf = Key (*)(const T &);
    using Positions = std::vector<qsizetype>;

    GroupIndex(const std::vector<T> &list, KeyOf keyOf)
        : m_list(list)
        , m_keyOf(keyOf)
    {
    }

    void stale()
    {
        m_built = false;
        m_groups.clear();
    }

    // In ascending order; empty for the empty key.
    const Positions &positions(const Key &key)
    {
        build();
        const auto it = m_groups.constFind(key);
        return it == m_groups.cend() ? m_none : *it;
    }

    // The record at `at` was replaced; `before` is what it held.
    void replaced(qsizetype at, const T &before)
    {
        if (!m_built)
            return;
        const Key was = m_keyOf(before);
        const Key now = m_keyOf(m_list[size_t(at)]);
        if (was == now)
            return;
        drop(was, at);
        add(now, at);
    }

    void appended(qsizetype at)
    {
        // Appends come in store order: the new position is the largest of its group.
        if (m_built)
            add(m_keyOf(m_list[size_t(at)]), at);
    }

private:
    void build()
    {
        if (m_built)
            return;
        for (qsizetype i = 0; i < qsizetype(m_list.size()); ++i) {
            const Key key = m_keyOf(m_list[size_t(i)]);
            if (key != Key{})
                m_groups[key].push_back(i);
        }
        m_built = true;
    }

    void add(const Key &key, qsizetype at)
    {
        if (key == Key{})
            return;
        Positions &group = m_groups[key];
        group.insert(std::lower_bound(group.begin(), group.end(), at), at);
    }

    void drop(const Key &key, qsizetype at)
    {
        if (key == Key{})
            return;
        const auto it = m_groups.find(key);
        if (it == m_groups.end())
            return;
        Positions &group = *it;
        const auto found = std::lower_bound(group.begin(), group.end(), at);
        if (found != group.end() && *found == at)
            group.erase(found);
        if (group.empty())
            m_groups.erase(it);
    }

    const std::vector<T> &m_list;
    KeyOf m_keyOf;
    bool m_built = false;
    QHash<Key, Positions> m_groups;
    const Positions m_none;
};
