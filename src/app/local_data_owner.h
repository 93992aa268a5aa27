#pragma once

#include <optional>

#include <QtGlobal>

class LocalStore;
class Settings;
class SyncEngine;

// Which account the local data set belongs to, recorded in the settings, so that one account never
// sees or pushes another's pages or outbox. The record outlives the session: an expired session
// signing in again keeps its data.
class LocalDataOwner
{
public:
    static constexpr const char *settingsKey = "pn.localDataOwnerUserID";

    LocalDataOwner(Settings &settings, LocalStore &store, SyncEngine *engine = nullptr);

    std::optional<qint64> owner() const;
    // Called before a session of `userID` starts. Data of another recorded owner is reset first
    // (pages, outbox and sync cursor alike); then `userID` owns what is there. True when it reset.
    bool claim(qint64 userID);

private:
    Settings &m_settings;
    LocalStore &m_store;
    SyncEngine *m_engine;
};
