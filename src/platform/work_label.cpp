#include "platform/work_label.h"

#include <QElapsedTimer>

#include <algorithm>
#include <cstring>

namespace {

bool s_enabled = false;
// Few names, so a list beats a map; the names are literals that outlive everything.
std::vector<std::pair<const char *, qint64>> &spent()
{
    static std::vector<std::pair<const char *, qint64>> list;
    return list;
}

qint64 nowNs()
{
    static QElapsedTimer clock = [] {
        QElapsedTimer t;
        t.start();
        return t;
    }();
    return clock.nsecsElapsed();
}

} // namespace

WorkLabel::WorkLabel(const char *name)
{
    if (!s_enabled)
        return;
    m_name = name;
    m_startedNs = nowNs();
}

WorkLabel::~WorkLabel()
{
    if (!m_name)
        return;
    const qint64 took = nowNs() - m_startedNs;
    auto &list = spent();
    auto it = std::find_if(list.begin(), list.end(),
                           [this](const auto &entry) { return std::strcmp(entry.first, m_name) == 0; });
    if (it == list.end())
        list.emplace_back(m_name, took);
    else
        it->second += took;
}

void WorkLabel::setEnabled(bool on)
{
    s_enabled = on;
}

std::vector<std::pair<const char *, qint64>> WorkLabel::take()
{
    std::vector<std::pair<const char *, qint64>> out;
    out.swap(spent());
    std::sort(out.begin(), out.end(), [](const auto &a, const auto &b) { return a.second > b.second; });
    return out;
}
