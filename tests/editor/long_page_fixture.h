#pragma once

// What the long-page tests share: a signed-in device offline from the service, and a page of many
// blocks opened in the real page view.

#include "editor/page_row_list.h"
#include "editor/page_view.h"
#include "fake-service/fake_service.h"
#include "support/editor_steps.h"
#include "support/test_device.h"

#include <QApplication>
#include <QObject>
#include <QTest>

#include <memory>
#include <vector>

class LongPageFixture : public QObject
{
protected:
    bool startService(const char *email, const char *name)
    {
        if (!m_fake.start())
            return false;
        m_account = m_fake.createAccount(email, "secret12", name);
        return m_account.userId != 0;
    }

    void newDevice() { m_device = std::make_unique<TestDevice>(m_fake.origin(), m_account.token); }

    void dropDevice()
    {
        m_device->engine().stopLoop();
        QTRY_VERIFY(!m_device->engine().isSyncing());
        m_view = nullptr;
        m_blocks.clear();
        m_device.reset();
    }

    // A page of `count` blocks "line 0<filler>", "line 1<filler>", ..., opened in a window of 700 x 600.
    std::unique_ptr<PageView> openLongPage(int count, const QString &filler = {})
    {
        const FNPage page = m_device->addPage(m_account.workspaceId, "Long");
        m_device->store().change([&](StoreState &state) {
            for (int i = 0; i < count; ++i) {
                FNBlock block;
                block.pageLocalID = page.localID;
                block.type = QStringLiteral("text");
                block.contentJSON = QStringLiteral(R"({"text":"line %1%2"})").arg(i).arg(filler);
                block.position = i;
                state.blocks.push_back(block);
                m_blocks.push_back(block);
            }
        });
        return openPage(page, QSize(700, 600));
    }

    // The page opened offline in a window of `size`, once its rows in view are laid out.
    std::unique_ptr<PageView> openPage(const FNPage &page, QSize size)
    {
        m_device->setToken(std::nullopt);
        auto view =
            std::make_unique<PageView>(m_device->context(), page.localID, nullptr, EditorSteps::fastTiming());
        view->resize(size);
        view->show();
        QApplication::setActiveWindow(view.get());
        if (!QTest::qWaitForWindowActive(view.get()) || !QTest::qWaitFor([&] { return view->isLaidOut(); }))
            return nullptr;
        m_view = view.get();
        return view;
    }

    // The layout requests posted so far taken, and the paints they ask for.
    static void takeLayoutAndPaints()
    {
        for (int round = 0; round < 3; ++round) {
            QCoreApplication::sendPostedEvents();
            QCoreApplication::processEvents();
        }
    }

    // The block's row when it is made, without making it.
    BlockRow *madeRow(int index) const
    {
        return m_view->topLevelList()->row(m_blocks[size_t(index)].localID);
    }

    FakeService m_fake;
    FakeService::Account m_account;
    std::unique_ptr<TestDevice> m_device;
    std::vector<FNBlock> m_blocks;
    PageView *m_view = nullptr;
};
