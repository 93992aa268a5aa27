#pragma once

#include <QHashFunctions>

#include <optional>
#include <vector>

// Hashing helpers for wire records whose fields are optional or lists.
namespace wire {

template <typename T>
size_t hashOf(const std::optional<T> &v, size_t seed);
template <typename T>
size_t hashOf(const std::vector<T> &list, size_t seed);

template <typename T>
size_t hashOf(const T &v, size_t seed)
{
    return qHash(v, seed);
}

template <typename T>
size_t hashOf(const std::optional<T> &v, size_t seed)
{
    // Absent and present hash apart even when the present value hashes to the seed.
    return v ? qHashMulti(seed, true, hashOf(*v, seed)) : qHash(false, seed);
}

template <typename T>
size_t hashOf(const std::vector<T> &list, size_t seed)
{
    size_t h = qHash(list.size(), seed);
    for (const auto &e : list)
        h = qHashMulti(seed, h, hashOf(e, seed));
    return h;
}

template <typename... Ts>
size_t hashAll(size_t seed, const Ts &...fields)
{
    size_t h = seed;
    ((h = qHashMulti(seed, h, hashOf(fields, seed))), ...);
    return h;
}

} // namespace wire
