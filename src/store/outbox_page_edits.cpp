#include "store/outbox.h"

#include "store/local_store.h"

// What of a page's content waits to go, for the moments the service changes that content itself.

namespace {

bool isPageEdit(const LocalStore &store, const FNSyncOp &op, const QString &pageLocalID)
{
    switch (op.kind()) {
    case SyncOpKind::PageUpdate:
    case SyncOpKind::BlockUpsert:
        return op.refLocalID == pageLocalID;
    case SyncOpKind::BlockDelete: {
        const FNBlock *block = store.block(op.refLocalID);
        return block && block->pageLocalID == pageLocalID;
    }
    default:
        return false;
    }
}

} // namespace

std::vector<FNSyncOp> Outbox::queuedPageEdits(const QString &pageLocalID) const
{
    std::vector<FNSyncOp> edits;
    for (const FNSyncOp &op : m_store.state().outbox) {
        if (isPageEdit(m_store, op, pageLocalID))
            edits.push_back(op);
    }
    return edits;
}

void Outbox::hurryPageEdits(const QString &pageLocalID)
{
    const auto hurried = [&](const FNSyncOp &op) {
        // A move of the page waiting out its back-off holds its updates back; a delete waits out
        // its undo window; a refused one holds nothing back and would likely be refused again.
        const bool ofThePage = op.entity == QLatin1String("page") && op.refLocalID == pageLocalID &&
                               op.kind() != SyncOpKind::PageDelete;
        return op.nextRetryAt && !op.refused && (ofThePage || isPageEdit(m_store, op, pageLocalID));
    };
    const auto &outbox = m_store.state().outbox;
    if (std::none_of(outbox.begin(), outbox.end(), hurried))
        return;
    m_store.changeOutsideRecords([&](StoreState &s) {
        for (FNSyncOp &op : s.outbox) {
            if (hurried(op))
                op.nextRetryAt.reset();
        }
    });
    save();
}

void Outbox::dropPurgedPage(const QString &pageLocalID)
{
    const auto ofPage = [&](const FNSyncOp &op) {
        return op.kind() == SyncOpKind::BlockDelete ? isPageEdit(m_store, op, pageLocalID)
                                                    : op.refLocalID == pageLocalID;
    };
    const auto &outbox = m_store.state().outbox;
    if (std::any_of(outbox.begin(), outbox.end(), ofPage))
        m_store.changeOutsideRecords([&](StoreState &s) { std::erase_if(s.outbox, ofPage); });
    save();
}
