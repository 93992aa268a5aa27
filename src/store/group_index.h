#pragma once

#include "store/record_list.h"
#include "store/sharded_hash.h"

#include <algorithm>
#include <mutex>
#include <vector>

// The positions of the records that share a key, in store order, kept in step by the store's own
// operations. A record whose key is the type's empty value (0, "") is not indexed: that value means
// "none" for every key indexed this way.
//
// It covers a leading run of the list and grows a slice at a time, so it can be built on another
// thread while the store's thread edits: the list changes only under `listMutex`, which every call
// takes too. An edit at a position not yet covered is left to the building, which reads the record
// as it then stands; a lookup finishes the building first.
template <typename T, typename Key>
class GroupIndex
{
public:
    using KeyOf = Key (*)(const T &);
    using Positions = std::vector<qsizetype>;

    GroupIndex(const RecordList<T> &list, KeyOf keyOf, std::recursive_mutex &listMutex)
        : m_list(list)
        , m_keyOf(keyOf)
        , m_mutex(listMutex)
    {
    }

    // The list may have changed anywhere: covers nothing until built again.
    void stale()
    {
        std::lock_guard lock(m_mutex);
        m_groups.clear();
        m_builtTo = 0;
    }

    // Covers up to `count` more records; false once it covers the whole list.
    bool buildSome(size_t count)
    {
        std::lock_guard lock(m_mutex);
        const size_t end = std::min(m_list.size(), m_builtTo + count);
        for (; m_builtTo < end; ++m_builtTo)
            add(m_keyOf(m_list[m_builtTo]), qsizetype(m_builtTo));
        return m_builtTo < m_list.size();
    }

    // In ascending order; empty for the empty key. Valid until the store's next change.
    const Positions &positions(const Key &key)
    {
        std::lock_guard lock(m_mutex);
        buildSome(m_list.size());
        const Positions *group = m_groups.find(key);
        return group ? *group : m_none;
    }

    // The record at `at` was replaced; `before` is what it held.
    void replaced(qsizetype at, const T &before)
    {
        std::lock_guard lock(m_mutex);
        if (size_t(at) >= m_builtTo)
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
        std::lock_guard lock(m_mutex);
        if (size_t(at) == m_builtTo)
            buildSome(1);
    }

private:
    void add(const Key &key, qsizetype at)
    {
        if (key == Key{})
            return;
        Positions &group = m_groups[key];
        // The building and appends come in store order: most positions are the largest of their group.
        if (group.empty() || group.back() < at)
            group.push_back(at);
        else
            group.insert(std::lower_bound(group.begin(), group.end(), at), at);
    }

    void drop(const Key &key, qsizetype at)
    {
        if (key == Key{})
            return;
        Positions *group = m_groups.find(key);
        if (!group)
            return;
        const auto found = std::lower_bound(group->begin(), group->end(), at);
        if (found != group->end() && *found == at)
            group->erase(found);
        if (group->empty())
            m_groups.erase(key);
    }

    const RecordList<T> &m_list;
    KeyOf m_keyOf;
    std::recursive_mutex &m_mutex;
    size_t m_builtTo = 0; // the records before it are indexed
    ShardedHash<Key, Positions> m_groups;
    const Positions m_none;
};
