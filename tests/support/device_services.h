#pragma once

#include "api/service_client.h"
#include "api/session_store.h"
#include "api/wire/auth.h"
#include "platform/app_events.h"
#include "platform/connectivity.h"
#include "platform/memory_secret_backend.h"
#include "platform/secret_store.h"
#include "platform/settings.h"
#include "store/database_row_updates.h"

#include <QString>

#include <memory>
#include <optional>

// An origin nothing listens on, for worlds that never reach a service.
inline const QString kNoServiceOrigin = QStringLiteral("http://127.0.0.1:9");

// The services one device's world is built on, as main builds them: settings, keyring, session,
// events, connectivity and a client at `origin` under that session. Nothing here is shared between
// two of them, so two devices in one test process never cross.
struct DeviceServices {
    DeviceServices(const QString &settingsPath, std::shared_ptr<SecretBackend> keyring, const QString &origin)
        : settings(settingsPath)
        , secrets(std::move(keyring))
        , session(secrets, settings)
        , client(origin, session, events, connectivity)
    {
    }

    // Signs in as the sign-in screen does (token and user stored), or out without a token.
    void setToken(const std::optional<QString> &token, qint64 userId = 1)
    {
        if (token)
            session.signIn(*token, AuthUser{userId, QStringLiteral("Device"), QString()});
        else
            session.signOut();
    }

    Settings settings;
    SecretStore secrets;
    SessionStore session;
    AppEvents events;
    Connectivity connectivity;
    ServiceClient client;
    DatabaseRowUpdates databaseRows;
};
