#pragma once

#include "platform/background_thread.h"

#include <QThreadPool>

#include <utility>

// The pool this app's own background work runs on. Not Qt's global pool: Qt's painter hands the
// strips of a large fill to the global pool and waits for them, so a long task of ours there (a
// reply's decode, a free of many records) would hold the window's paint until it ended.
QThreadPool &workPool();

// Runs `work` on the work pool, on a thread that gives way to the window's.
template <typename Work>
void startWork(Work &&work)
{
    workPool().start([work = std::forward<Work>(work)]() mutable {
        becomeBackgroundThread();
        work();
    });
}
