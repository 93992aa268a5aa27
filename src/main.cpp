#include "api/session_store.h"
#include "app/app_window.h"
#include "app/main_view.h"
#include "platform/desktop_url_opener.h"
#include "platform/icon_theme.h"
#include "platform/secret_store.h"
#include "platform/settings.h"
#include "platform/single_instance.h"
#include "store/favorites_store.h"
#include "store/local_store.h"
#include "store/sync_engine.h"
#include "store/template_store.h"
#include "ui/app_context.h"
#include "ui/symbol_icons.h"
#include "ui/toast_center.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Penroost Derud"));
    QApplication::setApplicationVersion(QStringLiteral(PENROOST_VERSION));
    QApplication::setDesktopFileName(QStringLiteral("penroost-derud"));
    IconTheme::installFallback();
    QApplication::setWindowIcon(SymbolIcons::logoIcon());

    // Before anything reads the data folder: a second process on it would write over the first's saves.
    SingleInstance instance(LocalStore::defaultFolder());
    if (!instance.claim())
        return 0;

    Settings settings;
    SecretStore &secrets = SecretStore::shared();
    // The session reads the keyring from memory, so it is loaded before the window routes.
    secrets.loadBlocking(SessionStore::keychainAccounts());

    // The five long-lived objects, in this order; they live as long as the process.
    SessionStore session(secrets, settings);
    LocalStore &store = LocalStore::shared();
    ToastCenter toasts;
    FavoritesStore favorites(settings);
    TemplateStore templates(settings);

    DesktopUrlOpener urlOpener;
    const AppContext context{&session, &store,    &toasts,   &favorites, &templates, &SyncEngine::shared(),
                             &secrets, &settings, &urlOpener};

    AppWindow window(context, [](const AppContext &c) { return new MainView(c); });
    QObject::connect(&instance, &SingleInstance::raiseRequested, &window, &AppWindow::bringToFront);
    window.show();
    return app.exec();
}
