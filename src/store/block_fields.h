#pragma once

#include <QtGlobal>

// The parts of a block the service keeps apart. An edit here changes some of them, and only those go
// out from this device's copy: the others may have been changed meanwhile by another device.
namespace BlockFields {
enum : qint64 {
    Content = 1,
    Kind = 2,
    Place = 4, // position and parent
    All = Content | Kind | Place,
    // The position, changed here only to make room for a block put beside it: it goes out from this
    // device's copy, but a place another device chose stands over it.
    Room = 8,
};

// A mark of `fields` added to one of `marked`: a place chosen here holds over one made room for.
constexpr qint64 merged(qint64 marked, qint64 fields)
{
    const qint64 both = marked | fields;
    return (both & Place) ? both & ~qint64(Room) : both;
}

// Whether `fields` send the block's position from this device's copy.
constexpr bool sendsPlace(qint64 fields)
{
    return (fields & (Place | Room)) != 0;
}
} // namespace BlockFields
