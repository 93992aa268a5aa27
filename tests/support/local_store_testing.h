#pragma once

#include "store/local_store.h"

// The store's own tests reach past its public face: arming a save by hand, and the positions its
// id indexes keep.
struct LocalStoreTesting {
    static void scheduleSave(LocalStore &store) { store.scheduleSave(); }
    static qsizetype indexOfPage(const LocalStore &store, const QString &id) { return store.indexOfPage(id); }
    static qsizetype indexOfBlock(const LocalStore &store, const QString &id) { return store.indexOfBlock(id); }
    static qsizetype indexOfPageWithServerID(const LocalStore &store, qint64 id)
    {
        return store.indexOfPageWithServerID(id);
    }
    static qsizetype indexOfBlockWithServerID(const LocalStore &store, qint64 id)
    {
        return store.indexOfBlockWithServerID(id);
    }
};
