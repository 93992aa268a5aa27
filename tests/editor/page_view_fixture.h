#pragma once

#include "blocks/block_content.h"
#include "editor/page_view.h"
#include "fake-service/fake_service.h"
#include "support/editor_steps.h"
#include "support/test_device.h"

#include <QApplication>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <chrono>
#include <memory>
#include <tuple>
#include <vector>

// The page editor over a device's store and engine, against the fake service: one account for the
// whole test case, a fresh device for each test. A test class derives from it, starting the service in
// initTestCase(), opening the device in init() and closing it in cleanup().
class PageViewFixture
{
protected:
    static inline const QString kBlocksPath = QStringLiteral("/api/blocks.php");

    // Blocks of a page: kind, text, indent.
    using BlockSpecs = QList<std::tuple<QString, QString, int>>;

    // A page of the given blocks, opened in an active window.
    struct Opened {
        std::unique_ptr<PageView> view;
        QStringList blocks;
    };

    bool startService()
    {
        if (!m_fake.start())
            return false;
        m_account = m_fake.createAccount("page@example.com", "secret12", "Page");
        return !m_account.token.isEmpty();
    }

    void openDevice()
    {
        m_fake.setOffline(false);
        m_fake.clearFaults();
        m_fake.clearRequests();
        m_device = std::make_unique<TestDevice>(m_fake.origin(), m_account.token);
    }

    void closeDevice()
    {
        m_device->engine().stopLoop();
        // A cycle still in flight ends with its device.
        QTRY_VERIFY(!m_device->engine().isSyncing());
        m_device.reset();
    }

    AppContext context() { return m_device->context(); }

    std::unique_ptr<PageView> openView(const QString &pageLocalID, bool waitForOpenTask = true)
    {
        auto view = std::make_unique<PageView>(context(), pageLocalID, nullptr, EditorSteps::fastTiming());
        QSignalSpy loaded(&view->model(), &PageViewModel::blocksLoaded);
        view->resize(700, 600);
        view->show();
        if (waitForOpenTask && loaded.isEmpty() && !loaded.wait(5000))
            return nullptr;
        return view;
    }

    // The blocks, in order, on the page; their local ids.
    QStringList addBlocks(const QString &pageLocalID, const BlockSpecs &blocks)
    {
        QStringList ids;
        int position = 0;
        for (const auto &[kind, text, indent] : blocks) {
            FNBlock block = m_device->addBlock(pageLocalID, text, position++);
            block.type = kind;
            block.indentLevel = indent;
            m_device->store().upsertBlock(block);
            ids << block.localID;
        }
        return ids;
    }

    Opened openActive(const BlockSpecs &blocks)
    {
        const FNPage page = m_device->addPage(m_account.workspaceId, "Keys");
        Opened opened;
        opened.blocks = addBlocks(page.localID, blocks);
        m_device->setToken(std::nullopt); // the outbox keeps what is queued
        opened.view = openView(page.localID);
        if (!opened.view)
            return {};
        opened.view->activateWindow();
        QApplication::setActiveWindow(opened.view.get());
        if (!QTest::qWaitForWindowActive(opened.view.get()) ||
            !QTest::qWaitFor([&] { return opened.view->isLaidOut(); }))
            return {};
        return opened;
    }

    FNPage syncedPage(const QString &title)
    {
        const FNPage page = m_device->addPage(m_account.workspaceId, title);
        m_device->sync();
        return *m_device->page(page.localID);
    }

    std::vector<FNSyncOp> outboxOf(const QString &entity, const QString &op) const
    {
        std::vector<FNSyncOp> out;
        for (const FNSyncOp &o : m_device->store().state().outbox) {
            if (o.entity == entity && o.op == op)
                out.push_back(o);
        }
        return out;
    }

    qint64 serverIDOf(const QString &pageLocalID) const
    {
        const FNPage *page = m_device->page(pageLocalID);
        return page ? page->serverID : 0;
    }

    static QString textOf(const FNBlock &block)
    {
        return BlockContent::readString(BlockContent::decode(block.contentJSON), QStringLiteral("text"));
    }

    static QString textOf(const FakeServiceState::Block &block)
    {
        return BlockContent::readString(block.content, QStringLiteral("text"));
    }

    // Lets timers of the given length run out; for checking that something did not happen.
    static bool letTimePass(std::chrono::milliseconds span)
    {
        auto done = std::make_shared<bool>(false);
        QTimer::singleShot(span, QCoreApplication::instance(), [done] { *done = true; });
        return QTest::qWaitFor([done] { return *done; });
    }

    // Where the next keystroke goes.
    static QWidget *keyboard() { return QApplication::focusWidget(); }

    FakeService m_fake;
    FakeService::Account m_account;
    std::unique_ptr<TestDevice> m_device;
};
