#pragma once

#include "fake-service/fake_service.h"
#include "library/library_view.h"
#include "support/app_harness.h"
#include "support/library_steps.h"

#include <QAction>
#include <QLineEdit>
#include <QMenu>
#include <QTest>

#include <memory>

// The sidebar inside its window, on a device signed in to a fresh account of the fake service for
// each test, with the steps the tests of its rows take.
class LibraryRowsFixture
{
protected:
    static inline const QString kFolders = QStringLiteral("/api/folders.php");
    static inline const QString kPages = QStringLiteral("/api/pages.php");

    // The menu's item with the text; null when it has none.
    static QAction *action(QMenu *menu, const QString &text)
    {
        for (QAction *a : menu->actions()) {
            if (a->text() == text)
                return a;
        }
        return nullptr;
    }

    // For initTestCase, init and cleanup.
    void startFake() { QVERIFY(m_fake.start()); }
    void initView()
    {
        m_account =
            m_fake.createAccount(QStringLiteral("rows%1@example.com").arg(++m_accounts), "secret12", "R");
        m_device = std::make_unique<AppDevice>(m_fake.origin());
        m_app = std::make_unique<AppHarness>(*m_device);
        m_app->services.setToken(m_account.token, m_account.userId);
        FNWorkspace w;
        w.serverID = m_account.workspaceId;
        m_app->store.setWorkspaces({w});
        m_view = std::make_unique<LibraryView>(m_app->context());
        m_fake.clearRequests();
    }
    void cleanupView()
    {
        m_view.reset();
        m_app.reset();
        m_device.reset();
    }

    FNFolder folder(const QString &name, qint64 serverID)
    {
        FNFolder f;
        f.serverID = serverID;
        f.workspaceServerID = m_account.workspaceId;
        f.name = name;
        f.icon = QStringLiteral("📁");
        return mirrorFolder(m_fake, m_app->store, f);
    }
    FNPage page(const QString &title, qint64 serverID, qint64 position = 0)
    {
        FNPage p;
        p.serverID = serverID;
        p.workspaceServerID = m_account.workspaceId;
        p.title = title;
        p.position = position;
        m_app->store.upsertPage(p);
        return p;
    }
    QStringList patchBodies() const
    {
        QStringList out;
        for (const HttpRequest &r : requestsWith(m_fake, kFolders, "PATCH"))
            out << QString::fromUtf8(r.body);
        return out;
    }
    QModelIndex row(const QString &rowID) const { return m_view->indexOfRow(rowID); }
    // The open rename field; closed ones linger hidden until deleted.
    QLineEdit *renameField() const
    {
        for (QLineEdit *e : m_view->listView()->viewport()->findChildren<QLineEdit *>()) {
            if (e->isVisible())
                return e;
        }
        return nullptr;
    }
    void showView()
    {
        m_view->resize(280, 500);
        m_view->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_view.get()));
        QTRY_VERIFY(m_view->rowModel().rowCount() > 0);
    }

    FakeService m_fake;
    FakeService::Account m_account;
    std::unique_ptr<AppDevice> m_device;
    std::unique_ptr<AppHarness> m_app;
    std::unique_ptr<LibraryView> m_view;
    int m_accounts = 0;
};
