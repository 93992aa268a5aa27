#pragma once

#include "blocks/block_content.h"
#include "blocks/bookmark_block.h"
#include "blocks/breadcrumbs_block.h"
#include "blocks/embed_block.h"
#include "blocks/mention_block.h"
#include "blocks/synced_block.h"
#include "blocks/toc_block.h"
#include "editor/block_row.h"
#include "editor/page_view.h"
#include "fake-service/fake_service.h"
#include "platform/recording_url_opener.h"
#include "support/editor_steps.h"
#include "support/test_device.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace linkedBlocks {

inline constexpr auto kPageIcon = "\U0001F4C4";

inline QString encoded(const JSONObject &content)
{
    return BlockContent::encode(content).value_or(QStringLiteral("{}"));
}

inline QStringList texts(const QList<QAbstractButton *> &buttons)
{
    QStringList out;
    for (const QAbstractButton *b : buttons)
        out << (b->accessibleName().isEmpty() ? b->text() : b->accessibleName());
    return out;
}

} // namespace linkedBlocks

// What the linked-block tests share: a device signed out unless a test signs it in, and its page
// opened in a view.
class LinkedBlocksFixture : public QObject
{
protected:
    void start()
    {
        QVERIFY(m_fake.start());
        m_account = m_fake.createAccount("linked@example.com", "secret12", "Linked");
    }

    void setUp()
    {
        EditorSteps::useFake(m_fake);
        // Signed out unless a test needs the service: nothing syncs the made-up ids away.
        m_device = std::make_unique<TestDevice>(m_fake.origin());
    }

    void tearDown()
    {
        m_view.reset();
        m_device.reset();
    }

    PageView *openPage(TestDevice &device, const FNPage &page)
    {
        AppContext context = device.context();
        context.urlOpener = &m_opener;
        auto view = std::make_unique<PageView>(context, page.localID, nullptr, EditorSteps::fastTiming());
        view->resize(700, 600);
        view->show();
        if (!QTest::qWaitFor([&] { return view->isLaidOut(); }))
            return nullptr;
        m_view = std::move(view);
        return m_view.get();
    }

    FNBlock addKind(TestDevice &device, const FNPage &page, const QString &type, const JSONObject &content,
                    qint64 position = 0, qint64 serverID = 0)
    {
        FNBlock block = device.addBlock(page.localID, QString(), position);
        block.type = type;
        block.serverID = serverID;
        block.contentJSON = linkedBlocks::encoded(content);
        device.store().upsertBlock(block);
        return block;
    }

    template <class View>
    View *viewOf(const FNBlock &block)
    {
        BlockRow *row = m_view ? m_view->row(block.localID) : nullptr;
        return row ? qobject_cast<View *>(row->kindView()) : nullptr;
    }

    FakeService m_fake;
    FakeService::Account m_account;
    std::unique_ptr<TestDevice> m_device;
    std::unique_ptr<PageView> m_view;
    RecordingUrlOpener m_opener;
};
