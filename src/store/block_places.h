#pragma once

#include <QtGlobal>

#include <optional>
#include <utility>
#include <vector>

class QRandomGenerator;

// Where a block goes among its siblings. A position orders the blocks of one sibling group, ascending
// (ties as `listedBefore` breaks them). Positions are signed 64-bit on the wire and the service keeps
// whatever a client writes, both ends of the range included: every gap here is measured unsigned, and
// a place that would leave the range is found inside it, room made there where the neighbours leave
// none. On a page whose positions stay clear of the range's ends this costs nothing.
//
// The rules, each written once below:
// - Laid out one after another (a template's blocks): a gap (kBlockPositionGap) apart from 0.
// - A line typed after a block: a line's step (kLineStep) past it, less up to half of it at random,
//   so two devices typing after one block rarely tie, and a run of lines typed one after another keeps
//   to the first steps of the gap. Where the gap is narrower, half of it at most.
// - A block dropped between two: about the middle of the gap, a sixteenth of it either side at random.
// - Past the last block (or before the first): a gap past it plus up to half another, while the range
//   has that much room; nearer its end, the rest of the range counts as the gap.
// - Where the neighbours leave no room (makeRoom): the fewest nearest siblings are spread evenly over
//   the smallest neighbourhood that leaves kRoomGap between each, never more of them than lie between
//   the spot and the nearer end of the list, past which lies the rest of the range.
// - A run of lines put back together after a block (spread): straight after it, a line's step apart.

// The step between the positions of blocks laid out one after another: room to insert between them
// without moving either.
constexpr qint64 kBlockPositionGap = 1024;
// How far past a block a line typed after it goes.
constexpr qint64 kLineStep = kBlockPositionGap / 64;

namespace BlockPlaces {

// The least gap left between the blocks moved to make room: more lines typed at the spot still fit.
constexpr qint64 kRoomGap = kBlockPositionGap / 16;

enum class Spot { Typed, Dropped };

// How far `hi` lies past `lo` (`lo` <= `hi`): up to 2^64 - 1, more than a qint64 holds.
constexpr quint64 distance(qint64 lo, qint64 hi)
{
    return quint64(hi) - quint64(lo);
}

// `from` moved by `by`, held at the ends of the range.
qint64 moved(qint64 from, qint64 by);

// The `index`-th of blocks laid out one after another.
qint64 laidOut(qsizetype index);

// A place for a block put between neighbours at `before` and `after` (none: that end of the list, and
// neither: the group's only block); none when they leave no room. `random`: the global one when null.
std::optional<qint64> between(std::optional<qint64> before, std::optional<qint64> after, Spot spot,
                              QRandomGenerator *random = nullptr);

struct Room {
    qint64 position = 0;                          // of the block put in
    std::vector<std::pair<size_t, qint64>> moves; // index in the list, new position
};
// Room for a block put at index `at` of `ordered` (the siblings' positions in list order, without it),
// where its neighbours leave none.
Room makeRoom(const std::vector<qint64> &ordered, size_t at);

// `count` places in order strictly between `lo` and `hi` (none: that end of the list), at most
// `widest` apart and as wide as the room allows; past an open end a gap apart. None where there is
// no room for them.
std::optional<std::vector<qint64>> spread(std::optional<qint64> lo, std::optional<qint64> hi, size_t count,
                                          quint64 widest);

} // namespace BlockPlaces
