#pragma once

#include "store/store_state.h"

#include <QByteArray>

// Reads "state.json" while it is parsed, with no document of the whole text in between: the same
// records, the same records left out (with the same reasons) and the same errors as
// StoreState::fromJsonByRecord over json::parseDocument marking damaged values, so a number no
// double holds or text that is not UTF-8 costs only the record holding it. The blocks, nearly all
// of the file, are decoded field by field as they stream past; the other members, small, through a
// document each.
class StoreStateDecoder
{
public:
    // Throw DecodeError where the text is no JSON, nests too deep or is not an object.
    static StoreState decode(const QByteArray &bytes, StoreStateDrops &dropped);
    // How a read through a descriptor went: runs of the blocks list read beside the main parse, and
    // whether the text was read again in one piece because a run or the rest did not read.
    struct Runs {
        int read = 0;
        bool readAgain = false;
        qint64 blocksAt = -1; // where the blocks list starts in the file: its '[' or its first item
    };
    // Reads `fd` from where it stands to its end; a read error throws its reason.
    static StoreState decode(int fd, StoreStateDrops &dropped, Runs *runs = nullptr);
};
