#include "app/sync_request.h"

#include "store/sync_engine.h"

namespace {

QCoro::Task<> syncDroppingError(SyncEngine *engine)
{
    try {
        co_await engine->syncNow();
    } catch (...) {
    }
}

} // namespace

void requestSync(SyncEngine *engine)
{
    if (engine)
        syncDroppingError(engine);
}
