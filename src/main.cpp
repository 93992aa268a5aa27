#include "api/service_client.h"
#include "api/session_store.h"
#include "app/app_window.h"
#include "app/main_view.h"
#include "app/page_panels.h"
#include "app/page_sheets.h"
#include "app/start_report.h"
#include "platform/app_events.h"
#include "platform/connectivity.h"
#include "platform/desktop_url_opener.h"
#include "platform/icon_theme.h"
#include "platform/keyring_secret_backend.h"
#include "platform/media_audio_recorder.h"
#include "platform/process_end.h"
#include "platform/quit_signals.h"
#include "platform/secret_store.h"
#include "platform/settings.h"
#include "platform/single_instance.h"
#include "platform/start_marks.h"
#include "platform/system_clipboard.h"
#include "store/database_row_updates.h"
#include "store/favorites_store.h"
#include "store/kept_recordings.h"
#include "store/local_store.h"
#include "store/sync_engine.h"
#include "store/template_store.h"
#include "ui/app_context.h"
#include "ui/symbol_icons.h"
#include "ui/toast_center.h"

#include <QApplication>

#include <memory>

namespace {

// PENROOST_SERVICE_ORIGIN in the environment replaces the built-in origin.
QString serviceOrigin()
{
    const QByteArray env = qgetenv("PENROOST_SERVICE_ORIGIN");
    return env.isEmpty() ? QStringLiteral(PENROOST_SERVICE_ORIGIN) : QString::fromUtf8(env);
}

// The composition root: every long-lived object is made here, once, and handed down through the
// AppContext. Everything it made is gone, and written, when it returns.
int run(int argc, char *argv[])
{
    QApplication app(argc, argv);
    startMarks::mark("qt");
    // First, so a signal that comes while the app starts waits for the window rather than killing it.
    QuitSignals quitSignals;
    QApplication::setApplicationName(QStringLiteral("Penroost Derud"));
    QApplication::setApplicationVersion(QStringLiteral(PENROOST_VERSION));
    QApplication::setDesktopFileName(QStringLiteral("penroost-derud"));
    IconTheme::installFallback();
    QApplication::setWindowIcon(SymbolIcons::logoIcon());

    // Before anything reads the data folder: a second process on it would write over the first's saves.
    SingleInstance instance(LocalStore::defaultFolder());
    if (!instance.claim())
        return 0;
    startMarks::mark("lock");

    Settings settings;
    SecretStore secrets(std::make_shared<KeyringSecretBackend>());
    // The session reads the keyring from memory, so it is loaded before the window routes.
    secrets.loadBlocking(SessionStore::keychainAccounts());
    startMarks::mark("keyring");

    SessionStore session(secrets, settings);
    LocalStore store(LocalStore::defaultFolder());
    startMarks::mark("load");
    AppEvents events;
    Connectivity connectivity;
    ServiceClient client(serviceOrigin(), session, events, connectivity);
    SyncEngine engine(store, client);
    engine.followConnectivity(connectivity);
    KeptRecordings recordings(store, client);
    recordings.followEngine(engine);
    ToastCenter toasts;
    FavoritesStore favorites(settings);
    TemplateStore templates(settings);
    DesktopUrlOpener urlOpener;
    SystemClipboard clipboard;
    DatabaseRowUpdates databaseRows;

    AppContext context;
    context.session = &session;
    context.store = &store;
    context.toasts = &toasts;
    context.favorites = &favorites;
    context.templates = &templates;
    context.syncEngine = &engine;
    context.settings = &settings;
    context.urlOpener = &urlOpener;
    context.client = &client;
    context.connectivity = &connectivity;
    context.events = &events;
    context.clipboard = &clipboard;
    context.recordings = &recordings;
    context.databaseRows = &databaseRows;

    MainView::Parts parts;
    parts.panel = makePagePanel;
    parts.sheet = makePageSheet;
    AppWindow window(context, [parts](const AppContext &c) { return new MainView(c, parts); });
    QObject::connect(&instance, &SingleInstance::raiseRequested, &window, &AppWindow::bringToFront);
    // A desktop logout or a closed terminal ends the app as its Quit command does.
    QObject::connect(&quitSignals, &QuitSignals::received, &window, [&window] {
        window.quit();
        QCoreApplication::quit();
    });
    quitSignals.start();
    startMarks::mark("window");
    StartReport::startIfAsked(&window, store);
    window.show();
    return app.exec();
}

} // namespace

int main(int argc, char *argv[])
{
    MediaAudioRecorder::selectBackend();
    endProcess(run(argc, argv));
}
