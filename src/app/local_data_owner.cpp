#include "app/local_data_owner.h"

#include "platform/settings.h"
#include "store/local_store.h"
#include "store/sync_engine.h"

LocalDataOwner::LocalDataOwner(Settings &settings, LocalStore &store, SyncEngine *engine)
    : m_settings(settings)
    , m_store(store)
    , m_engine(engine)
{
}

std::optional<qint64> LocalDataOwner::owner() const
{
    return m_settings.integer(QString::fromLatin1(settingsKey));
}

bool LocalDataOwner::claim(qint64 userID)
{
    const std::optional<qint64> previous = owner();
    // Data from before owners were recorded has no owner: the first account to sign in keeps it.
    const bool foreign = previous && *previous != userID;
    if (foreign) {
        // A cycle still in flight for the old account must not apply its pull to the new data set.
        if (m_engine)
            m_engine->cancelCycle();
        m_store.reset();
    }
    m_settings.setInteger(QString::fromLatin1(settingsKey), userID);
    m_settings.sync();
    return foreign;
}
