#pragma once

#include "platform/start_marks.h"

#include <QElapsedTimer>
#include <QMetaObject>
#include <QObject>
#include <QPointer>
#include <QTimer>

#include <chrono>
#include <functional>
#include <utility>
#include <vector>

class LocalStore;
class QWidget;

// Off unless PENROOST_START_REPORT is set: then one line on standard error tells when the start was
// over (the window painted, the first save after the load written, and the event loop quiet since
// for `kQuiet`), the longest stall of the event loop until then (how late a frequent timer came), and
// the peak memory, and the longest turns with what ran in each (a `WorkLabel`, or else the event that
// took most of it). Times
// are milliseconds of the monotonic clock (QElapsedTimer's reference), so a process that launched
// the app can subtract its own reading. Exists to measure the start from outside, nothing else.
class StartReport : public QObject
{
    Q_OBJECT
public:
    static constexpr const char *kEnvironment = startMarks::kEnvironment;
    // The heartbeat that finds stalls, and how late it may come before the loop counts as busy.
    static constexpr std::chrono::milliseconds kBeat{5};
    static constexpr std::chrono::milliseconds kBusyTurn{100};
    static constexpr std::chrono::milliseconds kQuiet{500};
    // A start that never saves still reports, this long after the window painted.
    static constexpr std::chrono::milliseconds kNoSaveWait{10000};
    // Turns at least this long are named; the report keeps the `kNamedTurns` longest.
    static constexpr std::chrono::milliseconds kNamedTurn{10};
    static constexpr size_t kNamedTurns = 6;

    struct Figures {
        qint64 paintedAt = 0; // monotonic ms
        qint64 savedAt = 0;   // 0: no save came
        qint64 readyAt = 0;   // the last of paint, save and busy turn
        qint64 longestTurnMs = 0;
        qint64 peakKbPainted = 0; // VmHWM
        qint64 peakKbSaved = 0;
        // The steps of the start as marked, each with when it ended (monotonic ms).
        std::vector<std::pair<QByteArray, qint64>> steps;
        // The longest turns, longest first: how long (ms) and what ran in it.
        std::vector<std::pair<qint64, QByteArray>> longestTurns;
    };
    using Sink = std::function<void(const Figures &)>;

    // Null when the environment does not ask for it.
    static StartReport *startIfAsked(QWidget *window, const LocalStore &store);

    // Watches `window` and `store` from now on; tells `sink` once. The default sink prints the line.
    StartReport(QWidget *window, const LocalStore &store, Sink sink = {}, QObject *parent = nullptr);

    static QByteArray line(const Figures &figures);
    // This process's peak resident memory in kB, 0 when unknown.
    static qint64 peakMemoryKb();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void check();
    // What ran in the turn that just ended, `late` ms long.
    QByteArray nameOfTurn(qint64 late);
    void noteTurn(qint64 late);
    // An event delivered: its receiver's class and its type, and the time it has held the loop so far.
    struct EventKind {
        const QMetaObject *receiver = nullptr;
        int type = 0;
        qint64 ns = 0;
    };
    static qint64 now();
    // Changes with every save: each one renames a new file over the old.
    QByteArray fileIdentity() const;

    QPointer<QWidget> m_window;
    const LocalStore &m_store;
    Sink m_sink;
    QTimer m_poll;
    Figures m_figures;
    qint64 m_lastBeat = 0;
    qint64 m_lastBusyEnd = 0;
    QByteArray m_loadedFile;
    bool m_done = false;
    std::vector<EventKind> m_events; // since the last beat
    EventKind m_current;             // the event being delivered, or the last one
    qint64 m_currentSinceNs = 0;
};
