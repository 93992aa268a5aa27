#pragma once

class AppEvents;
class Clipboard;
class Connectivity;
class DatabaseRowUpdates;
class FavoritesStore;
class KeptRecordings;
class LocalStore;
class ServiceClient;
class SessionStore;
class Settings;
class SyncEngine;
class TemplateStore;
class ToastCenter;
class UrlOpener;

// The long-lived objects every view is built with. The composition root (main, or a test) builds
// each once, owns them and keeps them alive longer than any view; the context only points at them.
struct AppContext {
    SessionStore *session = nullptr;
    LocalStore *store = nullptr;
    ToastCenter *toasts = nullptr;
    FavoritesStore *favorites = nullptr;
    TemplateStore *templates = nullptr;
    SyncEngine *syncEngine = nullptr;
    Settings *settings = nullptr;
    UrlOpener *urlOpener = nullptr;
    ServiceClient *client = nullptr;
    Connectivity *connectivity = nullptr;
    AppEvents *events = nullptr;
    Clipboard *clipboard = nullptr;
    KeptRecordings *recordings = nullptr;
    DatabaseRowUpdates *databaseRows = nullptr;
};
