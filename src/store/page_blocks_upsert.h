#pragma once

#include "api/wire/blocks.h"

#include <QHash>
#include <QMap>
#include <QSet>
#include <QString>
#include <QStringList>

#include <optional>

class LocalStore;

// One page's block upsert as this device would send it now.
struct PageBlocksUpsert {
    BlocksUpsertReq req;
    QStringList carried; // the local ids of its blocks
    // Per carried block, the fields (BlockFields) that go out from this device's copy: those it
    // changed, or all of a block the service does not have yet.
    QMap<QString, qint64> fields;
    // Blocks left out until their parent is on the service.
    int waitingForParent = 0;
};

// The "block"/"upsert" of the page's live blocks that changed on this device (`edited`: the fields
// changed, by block) or are not on the service yet, as stored now, in position order: the service keeps every
// block an upsert leaves out, so a block this device did not change is never sent from a copy that may be
// stale. A block whose parent is not on the service yet waits for a later upsert; one under a block deleted
// here stays out, as the service removes it with that block; one whose parent is otherwise not among the
// page's live blocks goes by its stored parent id; one whose stored content does not read as a JSON
// object stays out, kept here as it is, rather than reaching the service empty. None while the page
// has no server id. A block not on the service that an upsert queued already carries (`queued`) goes
// only when changed since.
std::optional<PageBlocksUpsert> storedBlocksUpsert(const LocalStore &store, const QString &pageLocalID,
                                                   const QHash<QString, qint64> &edited,
                                                   const QSet<QString> &queued = {});

struct FNBlock;

// Sets the item's `fields` (BlockFields) to the block as stored now: the id the service knows it by,
// and for Place its parent's. A field whose stored value does not read (content that is not a JSON
// object) keeps the item's.
void fillUpsertItem(const LocalStore &store, BlockUpsertItem &item, const FNBlock &block, qint64 fields);
