#pragma once

#include "store/store_state.h"

#include <QByteArray>

// Reads "state.json" while it is parsed, with no document of the whole text in between: the same
// records, the same records left out (with the same reasons) and the same errors as
// StoreState::fromJsonByRecord over json::parseDocument. The blocks, nearly all of the file, are
// decoded field by field as they stream past; the other members, small, through a document each.
class StoreStateDecoder
{
public:
    // Throw DecodeError where the text is no JSON, nests too deep or is not an object.
    static StoreState decode(const QByteArray &bytes, StoreStateDrops &dropped);
    // Reads `fd` from where it stands to its end; a read error throws its reason.
    static StoreState decode(int fd, StoreStateDrops &dropped);
};
