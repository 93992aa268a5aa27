#pragma once

class FavoritesStore;
class LocalStore;
class SecretStore;
class SessionStore;
class Settings;
class SyncEngine;
class TemplateStore;
class ToastCenter;
class UrlOpener;

// The long-lived objects every view is built with. The app (or a test) owns them and keeps them
// alive longer than any view; the context only points at them.
struct AppContext {
    SessionStore *session = nullptr;
    LocalStore *store = nullptr;
    ToastCenter *toasts = nullptr;
    FavoritesStore *favorites = nullptr;
    TemplateStore *templates = nullptr;
    SyncEngine *syncEngine = nullptr;
    SecretStore *secrets = nullptr;
    Settings *settings = nullptr;
    UrlOpener *urlOpener = nullptr;
};
