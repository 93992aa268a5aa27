#pragma once

#include <QHash>

#include <array>
#include <climits>
#include <utility>

// A hash table split by the key's hash into tables that each grow on their own. One table of
// 262,144 keys takes over 20 ms to grow on the next insert; here that insert pays for a
// sixty-fourth of it, so an index of every block never stalls the window while a sync fills it.
template <typename K, typename V>
class ShardedHash
{
    static constexpr int kShardBits = 6;

public:
    // The tables are never shared, so a value found read-only may be changed in place.
    V *find(const K &key) { return const_cast<V *>(std::as_const(*this).find(key)); }
    const V *find(const K &key) const
    {
        const QHash<K, V> &table = shard(key);
        const auto it = table.constFind(key);
        return it == table.cend() ? nullptr : &*it;
    }
    V &operator[](const K &key) { return shard(key)[key]; }
    void erase(const K &key) { shard(key).remove(key); }

    void clear()
    {
        for (QHash<K, V> &table : m_shards)
            table.clear();
    }
    // Room for about `count` keys in all.
    void reserve(qsizetype count)
    {
        for (QHash<K, V> &table : m_shards)
            table.reserve(count / qsizetype(m_shards.size()) + 1);
    }

private:
    // The hash's top bits pick the table; each table places its keys by the low ones, so a table's
    // keys still spread over all of its buckets.
    static size_t shardOf(const K &key) { return qHash(key, 0) >> (sizeof(size_t) * CHAR_BIT - kShardBits); }
    QHash<K, V> &shard(const K &key) { return m_shards[shardOf(key)]; }
    const QHash<K, V> &shard(const K &key) const { return m_shards[shardOf(key)]; }

    std::array<QHash<K, V>, size_t(1) << kShardBits> m_shards;
};
