#pragma once

#include <QtGlobal>

#include <utility>
#include <vector>

// Names a stretch of the GUI thread's work for whoever measures the event loop's turns (the start
// report), so a long turn can say what ran in it. Free unless a watcher switched the labels on.
class WorkLabel
{
public:
    explicit WorkLabel(const char *name);
    ~WorkLabel();
    WorkLabel(const WorkLabel &) = delete;
    WorkLabel &operator=(const WorkLabel &) = delete;

    static void setEnabled(bool on);
    // The labels' time since the last take, in nanoseconds, most first; starts over.
    static std::vector<std::pair<const char *, qint64>> take();

private:
    const char *m_name = nullptr; // null while off
    qint64 m_startedNs = 0;
};
