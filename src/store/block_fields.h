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
};
} // namespace BlockFields
