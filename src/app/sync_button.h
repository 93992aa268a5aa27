#pragma once

#include "app/sync_status.h"

#include <QPointer>
#include <QToolButton>

class BusyIndicator;
class KeptRecordings;
class LocalStore;
class QLabel;
class SyncEngine;

// The toolbar's "Sync now" button. Its face is the sync status: a spinner while a cycle runs, else
// the symbol with the count of queued changes (voice notes not uploaded yet among them) as a badge,
// or the up-to-date symbol. A click starts a cycle, also while one runs (the engine ignores it then).
class SyncButton : public QToolButton
{
    Q_OBJECT
public:
    static constexpr const char *kHelp = "Sync now";
    static constexpr int kIconSize = 18;

    SyncButton(LocalStore &store, SyncEngine *engine, QWidget *parent = nullptr,
               KeptRecordings *recordings = nullptr);

    // The changes not on the service yet that the badge counts: the queued ones, the pages still
    // showing a refused or unsent change, and the voice notes not uploaded yet.
    static qsizetype unsyncedCount(const LocalStore &store, const SyncEngine *engine,
                                   const KeptRecordings *recordings);

    SyncStatus status() const { return m_status; }
    QLabel *badge() const { return m_badge; }

protected:
    void resizeEvent(QResizeEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void refresh();
    void placeBadge();

    LocalStore &m_store;
    SyncEngine *m_engine;
    QPointer<KeptRecordings> m_recordings;
    BusyIndicator *m_spinner;
    QLabel *m_badge;
    SyncStatus m_status;
    bool m_drawn = false;
};
