#include "app/start_report.h"

#include "platform/start_marks.h"
#include "platform/work_label.h"
#include "store/local_store.h"

#include <QCoreApplication>
#include <QEvent>
#include <QFile>
#include <QMetaEnum>
#include <QWidget>

#include <algorithm>
#include <cstdio>

#include <sys/stat.h>

namespace {

qint64 nowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace

StartReport *StartReport::startIfAsked(QWidget *window, const LocalStore &store)
{
    if (qEnvironmentVariableIsEmpty(kEnvironment))
        return nullptr;
    return new StartReport(window, store, {}, window);
}

StartReport::StartReport(QWidget *window, const LocalStore &store, Sink sink, QObject *parent)
    : QObject(parent)
    , m_window(window)
    , m_store(store)
    , m_sink(sink ? std::move(sink) : Sink([](const Figures &f) {
        std::fputs(line(f).constData(), stderr);
        std::fflush(stderr);
    }))
{
    m_loadedFile = fileIdentity();
    // Every event passes here first, the window's too: the time between two is what the first one cost.
    QCoreApplication::instance()->installEventFilter(this);
    WorkLabel::setEnabled(true);
    // A beat that comes late measures the turn that held the loop, whatever the event dispatcher. The
    // writer works on its own thread and wakes nobody when done, so the beat also looks at the file.
    m_poll.setTimerType(Qt::PreciseTimer);
    m_poll.setInterval(kBeat);
    m_lastBeat = now();
    connect(&m_poll, &QTimer::timeout, this, &StartReport::check);
    m_poll.start();
}

qint64 StartReport::now()
{
    return startMarks::now();
}

qint64 StartReport::peakMemoryKb()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &row : status.readAll().split('\n')) {
        if (row.startsWith("VmHWM:"))
            return row.mid(6).trimmed().split(' ').value(0).toLongLong();
    }
    return 0;
}

QByteArray StartReport::line(const Figures &f)
{
    QByteArray steps;
    for (const auto &[name, at] : f.steps)
        steps += " step_" + name + '=' + QByteArray::number(at);
    QByteArray turns;
    for (const auto &[ms, name] : f.longestTurns)
        turns += (turns.isEmpty() ? " turns=" : ",") + QByteArray::number(ms) + ':' + name;
    return QStringLiteral("start-report ready_at=%1 painted_at=%2 saved_at=%3 longest_turn_ms=%4 "
                          "peak_kb_painted=%5 peak_kb_saved=%6")
               .arg(f.readyAt)
               .arg(f.paintedAt)
               .arg(f.savedAt)
               .arg(f.longestTurnMs)
               .arg(f.peakKbPainted)
               .arg(f.peakKbSaved)
               .toLatin1() +
           steps + turns + '\n';
}

QByteArray StartReport::fileIdentity() const
{
    struct stat info {
    };
    if (::stat(QFile::encodeName(m_store.url()).constData(), &info) != 0)
        return {};
    return QByteArray::number(qulonglong(info.st_ino)) + ':' +
           QByteArray::number(qlonglong(info.st_mtim.tv_sec)) + ':' +
           QByteArray::number(qlonglong(info.st_mtim.tv_nsec));
}

bool StartReport::eventFilter(QObject *watched, QEvent *event)
{
    if (!m_done) {
        const qint64 t = nowNs();
        if (m_current.receiver) {
            auto it = std::find_if(m_events.begin(), m_events.end(), [this](const EventKind &k) {
                return k.receiver == m_current.receiver && k.type == m_current.type;
            });
            if (it == m_events.end())
                it = m_events.insert(m_events.end(), m_current);
            it->ns += t - m_currentSinceNs;
        }
        m_current = {watched->metaObject(), int(event->type()), 0};
        m_currentSinceNs = t;
    }
    // Stalls count from the moment the window shows.
    if (watched == m_window && event->type() == QEvent::Show && m_figures.paintedAt == 0)
        m_lastBeat = now();
    if (watched == m_window && event->type() == QEvent::Paint && m_figures.paintedAt == 0) {
        m_figures.paintedAt = now();
        m_figures.peakKbPainted = peakMemoryKb();
    }
    return QObject::eventFilter(watched, event);
}

void StartReport::check()
{
    const qint64 t = now();
    const qint64 late = t - m_lastBeat - kBeat.count();
    m_lastBeat = t;
    if (m_done || m_figures.paintedAt == 0) {
        m_events.clear();
        WorkLabel::take();
        return;
    }
    m_figures.longestTurnMs = std::max(m_figures.longestTurnMs, late);
    noteTurn(late);
    if (late > kBusyTurn.count())
        m_lastBusyEnd = t;
    const bool pending = m_store.isSavePending();
    if (!pending && m_figures.savedAt == 0 && fileIdentity() != m_loadedFile) {
        m_figures.savedAt = t;
        m_figures.peakKbSaved = peakMemoryKb();
    }
    const bool gaveUpOnSave =
        m_figures.savedAt == 0 && !pending && t - m_figures.paintedAt > kNoSaveWait.count();
    if (m_figures.savedAt == 0 && !gaveUpOnSave)
        return;
    const qint64 ready = std::max({m_figures.paintedAt, m_figures.savedAt, m_lastBusyEnd});
    if (t - ready < kQuiet.count())
        return;
    m_done = true;
    m_poll.stop();
    QCoreApplication::instance()->removeEventFilter(this);
    WorkLabel::setEnabled(false);
    m_figures.readyAt = ready;
    m_figures.steps = startMarks::taken();
    if (m_figures.peakKbSaved == 0)
        m_figures.peakKbSaved = peakMemoryKb();
    m_sink(m_figures);
}

QByteArray StartReport::nameOfTurn(qint64 late)
{
    // A label that covers a good part of the turn says more than the events around it.
    const auto labels = WorkLabel::take();
    if (!labels.empty() && labels.front().second * 3 >= late * 1000000)
        return labels.front().first;
    const auto most = std::max_element(m_events.cbegin(), m_events.cend(),
                                       [](const EventKind &a, const EventKind &b) { return a.ns < b.ns; });
    if (most == m_events.cend())
        return "unknown";
    const char *type = QMetaEnum::fromType<QEvent::Type>().valueToKey(most->type);
    return (type ? QByteArray(type) : QByteArray::number(most->type)) + '@' + most->receiver->className();
}

void StartReport::noteTurn(qint64 late)
{
    if (late >= kNamedTurn.count()) {
        auto &turns = m_figures.longestTurns;
        turns.emplace_back(late, nameOfTurn(late));
        std::stable_sort(turns.begin(), turns.end(),
                         [](const auto &a, const auto &b) { return a.first > b.first; });
        if (turns.size() > kNamedTurns)
            turns.pop_back();
    } else {
        WorkLabel::take();
    }
    m_events.clear();
}
