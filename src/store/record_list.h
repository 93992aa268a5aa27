#pragma once

#include "json/chunked_list.h"

#include <vector>

struct FNBlock;

// The list each kind of record is kept in. Blocks run to hundreds of thousands and arrive by the
// thousand in a first sync: theirs grows a chunk at a time instead of moving them all as it doubles.
template <typename T>
struct RecordListOf {
    using type = std::vector<T>;
};
template <>
struct RecordListOf<FNBlock> {
    using type = ChunkedList<FNBlock>;
};
template <typename T>
using RecordList = typename RecordListOf<T>::type;
