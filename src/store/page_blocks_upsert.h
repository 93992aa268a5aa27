#pragma once

#include "api/wire/blocks.h"

#include <QString>

#include <optional>

class LocalStore;

// The "block"/"upsert" body of a page's live blocks as they are stored now, in position order,
// leaving out blocks whose parent is not on the service yet. None while the page has no server id
// or has no such block.
std::optional<BlocksUpsertReq> storedBlocksUpsert(const LocalStore &store, const QString &pageLocalID);
