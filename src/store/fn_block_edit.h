#pragma once

#include "json/json_fields.h"

#include <QString>

// A block changed here that no queued upsert carries yet, and which of its fields (BlockFields)
// changed. Saved with the records, so an edit on disk always has what will send it.
struct FNBlockEdit {
    QString pageLocalID;
    QString blockLocalID;
    qint64 fields = 0;

    static constexpr std::tuple kFields{
        json::Field{"page", &FNBlockEdit::pageLocalID},
        json::Field{"block", &FNBlockEdit::blockLocalID},
        json::Field{"fields", &FNBlockEdit::fields},
    };
};
