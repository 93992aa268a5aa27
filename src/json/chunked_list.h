#pragma once

#include <algorithm>
#include <compare>
#include <cstddef>
#include <initializer_list>
#include <iterator>
#include <utility>
#include <vector>

// A list of records that grows a chunk at a time: appending never moves what is already there, so a
// list of hundreds of thousands gains one more without a pause to copy them all, as a vector does
// each time it doubles. Indexes, iterators and references to records stay valid while it grows.
template <typename T>
class ChunkedList
{
    static constexpr size_t kShift = 8;
    static constexpr size_t kChunk = size_t(1) << kShift;
    static constexpr size_t kMask = kChunk - 1;

    template <bool Const>
    class Iter
    {
        using List = std::conditional_t<Const, const ChunkedList, ChunkedList>;

    public:
        using iterator_category = std::random_access_iterator_tag;
        using value_type = T;
        using difference_type = std::ptrdiff_t;
        using pointer = std::conditional_t<Const, const T *, T *>;
        using reference = std::conditional_t<Const, const T &, T &>;

        Iter() = default;
        Iter(List *list, size_t at)
            : m_list(list)
            , m_at(at)
        {
        }
        operator Iter<true>() const { return {m_list, m_at}; }

        reference operator*() const { return (*m_list)[m_at]; }
        pointer operator->() const { return &(*m_list)[m_at]; }
        reference operator[](difference_type n) const { return (*m_list)[size_t(difference_type(m_at) + n)]; }

        Iter &operator++()
        {
            ++m_at;
            return *this;
        }
        Iter operator++(int)
        {
            Iter was = *this;
            ++m_at;
            return was;
        }
        Iter &operator--()
        {
            --m_at;
            return *this;
        }
        Iter operator--(int)
        {
            Iter was = *this;
            --m_at;
            return was;
        }
        Iter &operator+=(difference_type n)
        {
            m_at = size_t(difference_type(m_at) + n);
            return *this;
        }
        Iter &operator-=(difference_type n) { return *this += -n; }
        friend Iter operator+(Iter it, difference_type n) { return it += n; }
        friend Iter operator+(difference_type n, Iter it) { return it += n; }
        friend Iter operator-(Iter it, difference_type n) { return it -= n; }
        friend difference_type operator-(const Iter &a, const Iter &b)
        {
            return difference_type(a.m_at) - difference_type(b.m_at);
        }
        friend bool operator==(const Iter &a, const Iter &b) { return a.m_at == b.m_at; }
        friend auto operator<=>(const Iter &a, const Iter &b) { return a.m_at <=> b.m_at; }

        size_t index() const { return m_at; }

    private:
        List *m_list = nullptr;
        size_t m_at = 0;
    };

public:
    using value_type = T;
    using size_type = size_t;
    using difference_type = std::ptrdiff_t;
    using reference = T &;
    using const_reference = const T &;
    using iterator = Iter<false>;
    using const_iterator = Iter<true>;

    ChunkedList() = default;
    // A copy's chunks are made full size too, so that it also grows without moving a record.
    ChunkedList(const ChunkedList &other)
    {
        reserve(other.size());
        for (const T &item : other)
            push_back(item);
    }
    ChunkedList &operator=(const ChunkedList &other)
    {
        if (this != &other)
            *this = ChunkedList(other);
        return *this;
    }
    ChunkedList(ChunkedList &&) noexcept = default;
    ChunkedList &operator=(ChunkedList &&) noexcept = default;
    ChunkedList(std::initializer_list<T> items) { append(items.begin(), items.end()); }

    size_t size() const { return m_size; }
    bool empty() const { return m_size == 0; }

    T &operator[](size_t i) { return m_chunks[i >> kShift][i & kMask]; }
    const T &operator[](size_t i) const { return m_chunks[i >> kShift][i & kMask]; }
    T &front() { return (*this)[0]; }
    const T &front() const { return (*this)[0]; }
    T &back() { return (*this)[m_size - 1]; }
    const T &back() const { return (*this)[m_size - 1]; }

    iterator begin() { return {this, 0}; }
    iterator end() { return {this, m_size}; }
    const_iterator begin() const { return {this, 0}; }
    const_iterator end() const { return {this, m_size}; }
    const_iterator cbegin() const { return begin(); }
    const_iterator cend() const { return end(); }

    // Room in the chunks' table only: the chunks themselves are made as they fill.
    void reserve(size_t n) { m_chunks.reserve((n + kMask) >> kShift); }

    void push_back(const T &item) { emplace_back(item); }
    void push_back(T &&item) { emplace_back(std::move(item)); }
    template <typename... Args>
    T &emplace_back(Args &&...args)
    {
        if ((m_size & kMask) == 0) {
            m_chunks.emplace_back();
            m_chunks.back().reserve(kChunk);
        }
        ++m_size;
        return m_chunks.back().emplace_back(std::forward<Args>(args)...);
    }
    void pop_back()
    {
        m_chunks.back().pop_back();
        if (m_chunks.back().empty())
            m_chunks.pop_back();
        --m_size;
    }

    // At the end this only appends; elsewhere the records after `at` move along, as in a vector.
    template <typename It>
    iterator insert(const_iterator at, It first, It last)
    {
        const size_t was = m_size;
        append(first, last);
        return placed(at.index(), was);
    }
    iterator insert(const_iterator at, T item)
    {
        const size_t was = m_size;
        push_back(std::move(item));
        return placed(at.index(), was);
    }
    iterator erase(const_iterator at) { return erase(at, at + 1); }
    iterator erase(const_iterator first, const_iterator last)
    {
        const size_t from = first.index();
        const size_t count = last.index() - from;
        std::move(begin() + difference_type(from + count), end(), begin() + difference_type(from));
        for (size_t i = 0; i < count; ++i)
            pop_back();
        return {this, from};
    }
    void clear()
    {
        m_chunks.clear();
        m_size = 0;
    }

    friend bool operator==(const ChunkedList &a, const ChunkedList &b)
    {
        return a.m_size == b.m_size && std::equal(a.begin(), a.end(), b.begin());
    }

private:
    // Moves the records appended from `appendedAt` on to `at`.
    iterator placed(size_t at, size_t appendedAt)
    {
        std::rotate(begin() + difference_type(at), begin() + difference_type(appendedAt), end());
        return {this, at};
    }

    template <typename It>
    void append(It first, It last)
    {
        for (; first != last; ++first)
            push_back(*first);
    }

    std::vector<std::vector<T>> m_chunks; // each holds kChunk records but the last
    size_t m_size = 0;
};
