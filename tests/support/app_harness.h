#pragma once

#include "api/wire/auth.h"
#include "api/wire/pages.h"
#include "json/json_coder.h"
#include "platform/recording_clipboard.h"
#include "platform/recording_url_opener.h"
#include "store/database_row_updates.h"
#include "store/favorites_store.h"
#include "store/kept_recordings.h"
#include "store/local_store.h"
#include "store/outbox.h"
#include "store/sync_engine.h"
#include "store/template_store.h"
#include "support/device_services.h"
#include "ui/app_context.h"
#include "ui/toast_center.h"

#include <QStringList>
#include <QTemporaryDir>

#include <memory>
#include <vector>

// The pages' titles in order, for comparing lists the views show.
inline QStringList titles(const std::vector<FNPage> &pages)
{
    QStringList out;
    for (const FNPage &p : pages)
        out << p.title;
    return out;
}

// What survives a relaunch of the app on one device: the keyring, the settings file, the data
// folder and the service origin it is configured with.
struct AppDevice {
    // `folder`: where its files live, kept by the caller (another process's device); empty for a
    // temporary folder of its own.
    explicit AppDevice(QString serviceOrigin = kNoServiceOrigin, QString folder = QString())
        : origin(std::move(serviceOrigin))
        , root(folder.isEmpty() ? dir.path() : std::move(folder))
    {
    }

    std::shared_ptr<MemorySecretBackend> keyring = std::make_shared<MemorySecretBackend>();
    QTemporaryDir dir;
    QString origin;
    QString root;

    QString settingsPath() const { return root + QStringLiteral("/settings.ini"); }
    QString storeFolder() const { return root + QStringLiteral("/Folionest"); }
};

// One launch of the app's long-lived objects over a device, made the way the entry makes them (the
// keyring loaded first), with a recording URL opener and clipboard. Build views from context().
struct AppHarness {
    explicit AppHarness(AppDevice &device)
        : services(device.settingsPath(), device.keyring, device.origin)
        , settings(services.settings)
        , secrets(services.secrets)
        , session(services.session)
        , client(services.client)
        , events(services.events)
        , connectivity(services.connectivity)
        , store(device.storeFolder())
        , engine(store, client)
        , recordings(store, client)
        , favorites(settings)
        , templates(settings)
    {
        secrets.loadBlocking(SessionStore::keychainAccounts());
        recordings.followEngine(engine);
    }

    // Stores the page and queues its "page"/"create" (workspace and title), as the sidebar does.
    void queuePageCreate(const FNPage &page)
    {
        store.upsertPage(page);
        PageCreateReq req;
        req.workspace_id = page.workspaceServerID;
        req.title = page.title;
        Outbox::of(store).pageCreate(page.localID, req);
    }

    // Signed in the way a launch finds a returning user: the welcome seen, the local data theirs,
    // the session in the keyring.
    void signInReturning(const QString &token, const AuthUser &user);

    // The records as stored now; the local id must be there.
    const FNFolder &storedFolder(const QString &localID) const { return *store.folder(localID); }
    const FNPage &storedPage(const QString &localID) const { return *store.page(localID); }

    AppContext context()
    {
        AppContext context{&session, &store,  &toasts,       &favorites, &templates, &engine,    &settings,
                           &opener,  &client, &connectivity, &events,    &clipboard, &recordings};
        context.databaseRows = &databaseRows;
        return context;
    }

    DeviceServices services;
    Settings &settings;
    SecretStore &secrets;
    SessionStore &session;
    ServiceClient &client;
    AppEvents &events;
    Connectivity &connectivity;
    LocalStore store;
    SyncEngine engine;
    KeptRecordings recordings;
    ToastCenter toasts;
    FavoritesStore favorites;
    TemplateStore templates;
    RecordingUrlOpener opener;
    RecordingClipboard clipboard;
    DatabaseRowUpdates databaseRows;
};
