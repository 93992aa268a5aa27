#pragma once

class QThreadPool;

// The pool this app's own background work runs on. Not Qt's global pool: Qt's painter hands the
// strips of a large fill to the global pool and waits for them, so a long task of ours there (a
// reply's decode, a free of many records) would hold the window's paint until it ended.
QThreadPool &workPool();
