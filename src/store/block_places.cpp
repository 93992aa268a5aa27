#include "store/block_places.h"

#include <QRandomGenerator>

#include <algorithm>
#include <limits>

namespace BlockPlaces {

namespace {

// The ends of the range, taken as bounds no place reaches: a list's open end lies against them.
constexpr qint64 kLowest = std::numeric_limits<qint64>::min();
constexpr qint64 kHighest = std::numeric_limits<qint64>::max();

// Callers keep the result inside the range: the sums wrap as unsigned, never as signed.
qint64 above(qint64 from, quint64 by)
{
    return qint64(quint64(from) + by);
}

qint64 below(qint64 from, quint64 by)
{
    return qint64(quint64(from) - by);
}

// A place strictly between `lo` and `hi` for the spot; none when they leave no room.
std::optional<qint64> inGap(qint64 lo, qint64 hi, Spot spot, QRandomGenerator &random)
{
    if (hi <= lo)
        return std::nullopt;
    const quint64 room = distance(lo, hi);
    if (room < 2)
        return std::nullopt;
    if (spot == Spot::Typed) {
        const quint64 step = std::min(quint64(kLineStep), room / 2);
        return above(lo, step - (step >= 2 ? random.bounded(step / 2) : 0));
    }
    if (room < 16)
        return above(lo, room / 2);
    return above(lo, room / 2 - room / 16 + random.bounded(room / 8));
}

// Whether `count` places a gap apart fit past an end of a list whose last block, at that end, lies
// `room` from the range's end.
bool gapsFit(quint64 room, quint64 count)
{
    return room / quint64(kBlockPositionGap) > count;
}

} // namespace

qint64 moved(qint64 from, qint64 by)
{
    if (by >= 0)
        return distance(from, kHighest) < quint64(by) ? kHighest : above(from, quint64(by));
    const quint64 down = quint64(0) - quint64(by);
    return distance(kLowest, from) < down ? kLowest : below(from, down);
}

qint64 laidOut(qsizetype index)
{
    return moved(0, qint64(index) * kBlockPositionGap);
}

std::optional<qint64> between(std::optional<qint64> before, std::optional<qint64> after, Spot spot,
                              QRandomGenerator *random)
{
    QRandomGenerator &r = random ? *random : *QRandomGenerator::global();
    if (!before && !after)
        return 0;
    if (before && after)
        return inGap(*before, *after, spot, r);
    // The jitter: two devices adding at an end at once rarely give their blocks one position.
    const quint64 gap = quint64(kBlockPositionGap) + r.bounded(quint64(kBlockPositionGap / 2));
    if (before)
        return distance(*before, kHighest) > gap ? above(*before, gap) : inGap(*before, kHighest, spot, r);
    return distance(kLowest, *after) > gap ? below(*after, gap) : inGap(kLowest, *after, spot, r);
}

Room makeRoom(const std::vector<qint64> &ordered, size_t at)
{
    // The blocks moved are ordered[lo, hi); the new one goes between ordered[at - 1] and ordered[at].
    // The window's bounds are the blocks either side of it, or past an end of the list the range's end.
    const size_t n = ordered.size();
    at = std::min(at, n);
    size_t lo = at;
    size_t hi = at;
    const auto low = [&] { return lo > 0 ? ordered[lo - 1] : kLowest; };
    const auto high = [&] { return hi < n ? ordered[hi] : kHighest; };
    const auto count = [&] { return quint64(hi - lo) + 1; };
    const auto fits = [&] {
        return high() > low() && distance(low(), high()) / (count() + 1) >= quint64(kRoomGap);
    };
    // What one more block at a side adds to the window's room.
    const auto gain = [&](qint64 outer, qint64 inner) {
        return std::min(distance(outer, inner), quint64(kBlockPositionGap));
    };
    // Past either end lies the rest of the range: the window grows no further than the moves that
    // reaching the nearer end costs, unless the range's end lies too near to leave room there.
    const size_t toNearerEnd = std::min(at, n - at);
    bool atEnd = false;
    while (!fits() && !(lo == 0 && hi == n)) {
        if (!atEnd && hi - lo >= toNearerEnd) {
            lo = at <= n - at ? 0 : at;
            hi = at <= n - at ? at : n;
            atEnd = true;
            continue;
        }
        if (atEnd) {
            if (lo == 0)
                ++hi;
            else
                --lo;
            continue;
        }
        const quint64 leftGain = lo >= 2 ? gain(ordered[lo - 2], ordered[lo - 1]) : gain(kLowest, ordered[0]);
        const quint64 rightGain =
            hi + 1 < n ? gain(ordered[hi], ordered[hi + 1]) : gain(ordered[n - 1], kHighest);
        // On a tie, towards the nearer end.
        if (rightGain > leftGain || (rightGain == leftGain && n - hi < lo))
            ++hi;
        else
            --lo;
    }

    const quint64 k = count();
    quint64 step = quint64(kBlockPositionGap);
    qint64 first = 0;
    const auto evenly = [&](qint64 a, qint64 b) {
        step = distance(a, b) / (k + 1);
        first = above(a, step);
    };
    // Against an end of the list a gap apart, while the range has room for that.
    if (lo > 0 && hi < n)
        evenly(low(), high());
    else if (lo > 0 && gapsFit(distance(low(), kHighest), k))
        first = above(low(), step);
    else if (hi < n && gapsFit(distance(kLowest, high()), k))
        first = below(high(), k * step);
    else if (lo == 0 && hi == n && gapsFit(distance(0, kHighest), k))
        first = 0;
    else
        evenly(low(), high());

    Room room;
    // The siblings in the window, the new block's slot skipped.
    for (size_t i = lo; i < hi; ++i) {
        const quint64 slot = quint64(i - lo) + (i >= at ? 1 : 0);
        const qint64 position = above(first, slot * step);
        if (ordered[i] != position)
            room.moves.emplace_back(i, position);
    }
    room.position = above(first, quint64(at - lo) * step);
    return room;
}

std::optional<std::vector<qint64>> spread(std::optional<qint64> lo, std::optional<qint64> hi, size_t count,
                                          quint64 widest)
{
    std::vector<qint64> places;
    places.reserve(count);
    quint64 step = quint64(kBlockPositionGap);
    qint64 first = 0;
    // An open end a gap apart while the range has room for them; nearer its end, up to it.
    if (lo && !hi && !gapsFit(distance(*lo, kHighest), count))
        hi = kHighest;
    if (hi && !lo && !gapsFit(distance(kLowest, *hi), count))
        lo = kLowest;
    if (lo && hi) {
        if (*hi <= *lo)
            return std::nullopt;
        step = std::min(widest, distance(*lo, *hi) / (quint64(count) + 1));
        if (step < 1)
            return std::nullopt;
        first = above(*lo, step);
    } else if (lo) {
        first = above(*lo, step);
    } else if (hi) {
        first = below(*hi, quint64(count) * step);
    }
    for (size_t i = 0; i < count; ++i)
        places.push_back(above(first, quint64(i) * step));
    return places;
}

} // namespace BlockPlaces
