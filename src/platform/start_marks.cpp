#include "platform/start_marks.h"

#include <QElapsedTimer>

#include <algorithm>
#include <mutex>

namespace {

struct Marks {
    std::mutex mutex;
    std::vector<std::pair<QByteArray, qint64>> steps;
};

Marks &marks()
{
    static Marks m;
    return m;
}

bool asked()
{
    static const bool on = !qEnvironmentVariableIsEmpty(startMarks::kEnvironment);
    return on;
}

} // namespace

namespace startMarks {

qint64 now()
{
    QElapsedTimer t;
    t.start();
    return t.msecsSinceReference();
}

void mark(const char *name)
{
    if (!asked())
        return;
    const qint64 at = now();
    Marks &m = marks();
    std::lock_guard lock(m.mutex);
    const QByteArray step(name);
    if (std::none_of(m.steps.cbegin(), m.steps.cend(), [&](const auto &s) { return s.first == step; }))
        m.steps.emplace_back(step, at);
}

std::vector<std::pair<QByteArray, qint64>> taken()
{
    Marks &m = marks();
    std::lock_guard lock(m.mutex);
    return m.steps;
}

} // namespace startMarks
