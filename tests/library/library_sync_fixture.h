#pragma once

#include "library/library_deleter.h"
#include "library/library_refresher.h"
#include "library/library_tree.h"
#include "library_rows_fixture.h"
#include "support/task_outcome.h"

#include <QSignalSpy>

#include <chrono>
#include <functional>

// The sidebar's rows fixture with the engine on a clock the test moves, for the tests of changes
// that reach the service late: cycles past every retry wait, relaunches, and a second device.
class LibrarySyncFixture : protected LibraryRowsFixture
{
protected:
    // For init.
    void initClockedView()
    {
        using namespace std::chrono_literals;
        m_fake.clearFaults();
        m_fake.setOffline(false);
        initView();
        m_now = QDateTime::currentDateTimeUtc();
        m_app->engine.setClock([this] { return m_now; });
        m_view->deleter().setDelays(2s, 300ms);
    }

    // The engine's cycle after any it began by itself, with its clock past every retry wait.
    void syncLater()
    {
        QTRY_VERIFY_WITH_TIMEOUT(!m_app->engine.isSyncing(), 15000);
        m_now = m_now.addSecs(120);
        runTask(m_app->engine.syncNow());
    }

    // Quits and launches again on the same device.
    void relaunch()
    {
        m_view.reset();
        m_app.reset();
        m_app = std::make_unique<AppHarness>(*m_device);
        m_app->services.setToken(m_account.token, m_account.userId);
        m_app->engine.setClock([this] { return m_now; });
        m_view = std::make_unique<LibraryView>(m_app->context());
    }

    // The row id of the row the record's row hangs under in this sidebar; empty at the top level.
    static QString parentRowOf(LibraryView &view, const LocalStore &store, const QString &rowID)
    {
        LibraryTree &tree = view.tree();
        // Everything open, so every record has a row.
        for (const FNFolder &f : store.state().folders)
            tree.setExpanded(f.localID, true);
        for (const FNPage &p : store.state().pages)
            tree.setExpanded(p.localID, true);
        const std::vector<LibraryTree::Row> rows = tree.listContent();
        for (size_t i = 0; i < rows.size(); ++i) {
            if (rows[i].rowID() != rowID)
                continue;
            for (size_t j = i; j-- > 0;) {
                if (rows[j].depth < rows[i].depth)
                    return rows[j].rowID();
            }
            return QString();
        }
        return QStringLiteral("(not listed)");
    }

    // What `read` finds in the sidebar of a second device of the account once refreshed from the
    // service; "(no refresh)" when the refresh does not come.
    QString onAnotherDevice(const std::function<QString(LibraryView &, AppHarness &)> &read)
    {
        AppDevice device(m_fake.origin());
        AppHarness app(device);
        app.services.setToken(m_account.token, m_account.userId);
        FNWorkspace w;
        w.serverID = m_account.workspaceId;
        app.store.setWorkspaces({w});
        LibraryView view(app.context());
        QSignalSpy polled(&view.refresher(), &LibraryRefresher::pollCycleFinished);
        view.refresher().startPolling();
        if (!polled.wait(15000))
            return QStringLiteral("(no refresh)");
        view.refresher().stopPolling();
        return read(view, app);
    }

    QDateTime m_now;
};
