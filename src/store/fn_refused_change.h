#pragma once

#include "json/json_fields.h"

#include <QString>

#include <vector>

// A page whose change the service refused for good and was dropped: until it is read back from the
// service, it shows what the service does not hold. Saved, so a relaunch neither calls it saved nor
// forgets to read it back once it can be read (a page restored from the trash).
struct FNRefusedChange {
    QString pageLocalID;
    std::vector<QString> blockLocalIDs; // the blocks the dropped change carried
    bool pageFields = false;            // whether the page's own fields were in it

    static constexpr std::tuple kFields{
        json::Field{"page", &FNRefusedChange::pageLocalID},
        json::Field{"blocks", &FNRefusedChange::blockLocalIDs},
        json::Field{"pageFields", &FNRefusedChange::pageFields},
    };
};
