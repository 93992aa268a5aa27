#pragma once

#include "json/json_fields.h"
#include "json/json_value.h"

#include <QString>

#include <optional>

// A block some of whose fields go, or went, out from this device's copy without being changed here.
// The push fills them right after a pull, but another device's write may still land between that pull
// and the push, and the push writes over it. The feed tells: that write comes back before the push's
// own echo. Kept with the records and the cursor, so a kill or a lost answer loses nothing.
struct FNFillCheck {
    QString blockLocalID;
    qint64 fields = 0; // BlockFields the last push that may have landed filled
    // The latest version of the block another device wrote, as the feed carried it ("content",
    // "type", "position", "parent_block_id").
    std::optional<JSONObject> other;
    // Fields put back to another device's write and queued, not sent yet: a newer write of another
    // device pulled meanwhile stands instead.
    qint64 repaired = 0;
    // The position the service held before this device moved the block only to make room: a
    // version still there is no place another device chose.
    std::optional<qint64> roomFrom;
    // `fields` come from a push whose echo no pull has brought yet. A pull read to the feed's end
    // without it shows the push changed nothing there (it never arrived, or wrote what the service
    // held): it wrote over nothing. The service writes no version for a write that changes nothing.
    bool awaitingEcho = false;

    static constexpr std::tuple kFields{
        json::Field{"block", &FNFillCheck::blockLocalID},
        json::Field{"fields", &FNFillCheck::fields},
        json::Field{"other", &FNFillCheck::other},
        json::Field{"repaired", &FNFillCheck::repaired},
        json::Field{"roomFrom", &FNFillCheck::roomFrom},
        json::Flag{"awaitingEcho", &FNFillCheck::awaitingEcho},
    };
};
