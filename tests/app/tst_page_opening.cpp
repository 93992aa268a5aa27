#include "app/home_view.h"
#include "app/main_view.h"
#include "app/quick_switcher.h"
#include "blocks/block_content.h"
#include "editor/page_view.h"
#include "fake-service/fake_service.h"
#include "library/library_list_view.h"
#include "library/library_row_model.h"
#include "library/library_view.h"
#include "support/app_harness.h"
#include "ui/fitted_text.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include <memory>

// Opening an existing page from the sidebar, the home dashboard or the quick switcher, in the main
// view with its real page editor: what is typed right after lands in the page.
class TestPageOpening : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void typingGoesIntoTheOpenedPage_data();
    void typingGoesIntoTheOpenedPage();

private:
    FakeService m_fake;
    FakeService::Account m_account;
    std::unique_ptr<AppDevice> m_device;
    std::unique_ptr<AppHarness> m_app;
    std::unique_ptr<MainView> m_view;
};

void TestPageOpening::initTestCase()
{
    QVERIFY(m_fake.start());
    m_account = m_fake.createAccount(QStringLiteral("open@example.com"), QStringLiteral("secret12"),
                                     QStringLiteral("Opal"));
}

void TestPageOpening::init()
{
    m_device = std::make_unique<AppDevice>(m_fake.origin());
    m_app = std::make_unique<AppHarness>(*m_device);
    m_app->session.signIn(m_account.token, AuthUser{m_account.userId, QStringLiteral("Opal"),
                                                    QStringLiteral("open@example.com")});
    m_view = std::make_unique<MainView>(m_app->context());
    m_view->resize(1000, 700);
    QSignalSpy done(m_view.get(), &MainView::firstAppearanceDone);
    m_view->show();
    QApplication::setActiveWindow(m_view.get());
    QVERIFY(QTest::qWaitForWindowActive(m_view.get()));
    QVERIFY(done.wait(5000));
}

void TestPageOpening::cleanup()
{
    m_view.reset();
    QTRY_VERIFY(!m_app->engine.isSyncing());
    m_app->engine.stopLoop();
    m_app.reset();
    m_device.reset();
}

void TestPageOpening::typingGoesIntoTheOpenedPage_data()
{
    QTest::addColumn<QString>("from");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QStringList>("texts");  // the page's blocks, in order; "/kind" for one without text
    QTest::addColumn<QString>("title2");     // the title after typing
    QTest::addColumn<QStringList>("texts2"); // the blocks after typing

    const QStringList two{"Tent", "Stove"};
    QTest::newRow("sidebar") << "sidebar"
                             << "Camp" << two << "Camp" << QStringList{"TentQ", "Stove"};
    QTest::newRow("home") << "home"
                          << "Camp" << two << "Camp" << QStringList{"TentQ", "Stove"};
    QTest::newRow("switcher") << "switcher"
                              << "Camp" << two << "Camp" << QStringList{"TentQ", "Stove"};
    QTest::newRow("untitled page") << "home"
                                   << "" << two << "Q" << two;
    QTest::newRow("first block without text")
        << "sidebar"
        << "Camp" << QStringList{"/divider", "Tent"} << "Camp" << QStringList{"", "TentQ"};
    QTest::newRow("page without blocks yet") << "sidebar"
                                             << "Camp" << QStringList{} << "Camp" << QStringList{"Q"};
}

void TestPageOpening::typingGoesIntoTheOpenedPage()
{
    QFETCH(QString, from);
    QFETCH(QString, title);
    QFETCH(QStringList, texts);
    QFETCH(QString, title2);
    QFETCH(QStringList, texts2);

    FNPage page;
    page.title = title;
    page.workspaceServerID = m_account.workspaceId;
    page.updatedAt = QDateTime::currentDateTimeUtc();
    m_app->store.upsertPage(page);
    for (int i = 0; i < texts.size(); ++i) {
        FNBlock block;
        block.pageLocalID = page.localID;
        const bool textless = texts[i].startsWith(QLatin1Char('/'));
        block.type = textless ? texts[i].mid(1) : QStringLiteral("text");
        block.position = i;
        block.contentJSON =
            *BlockContent::encode(textless ? JSONObject{} : JSONObject{{QStringLiteral("text"), texts[i]}});
        m_app->store.upsertBlock(block);
    }
    // Another page is open: the keyboard is somewhere else when the user picks this one.
    FNPage other;
    other.title = QStringLiteral("Other");
    other.workspaceServerID = m_account.workspaceId;
    m_app->store.upsertPage(other);
    m_view->setSelectedPage(other.localID);

    const QString shown = title.isEmpty() ? QStringLiteral("Untitled") : title;
    if (from == QLatin1String("sidebar")) {
        LibraryListView *list = m_view->sidebar()->listView();
        const LibraryRowModel &rows = m_view->sidebar()->rowModel();
        QModelIndex at;
        QTRY_VERIFY([&] {
            for (int i = 0; i < rows.rowCount(); ++i) {
                if (rows.index(i).data().toString() == shown)
                    at = rows.index(i);
            }
            return at.isValid();
        }());
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualRect(at).center());
    } else if (from == QLatin1String("home")) {
        m_view->setSelectedPage(std::nullopt);
        HomeView *home = m_view->homeView();
        QVERIFY(home);
        QTRY_VERIFY(!home->recentCards().isEmpty());
        QPushButton *card = nullptr;
        for (QPushButton *c : home->recentCards()) {
            if (c->findChild<FittedText *>(QStringLiteral("title"))->text() == shown)
                card = c;
        }
        QVERIFY(card);
        QTest::mouseClick(card, Qt::LeftButton);
    } else {
        m_view->showQuickSwitcher();
        QuickSwitcher *switcher = m_view->quickSwitcher();
        QVERIFY(switcher);
        QTRY_VERIFY(switcher->searchField()->hasFocus());
        QTest::keyClicks(switcher->searchField(), shown);
        QTRY_COMPARE(switcher->list()->count(), 1);
        QTest::keyClick(switcher->searchField(), Qt::Key_Return);
        QTRY_VERIFY(!m_view->quickSwitcher());
        // The window system gives the main window back its activation; offscreen, Qt is told.
        QApplication::setActiveWindow(m_view.get());
        QVERIFY(QTest::qWaitForWindowActive(m_view.get()));
    }
    QCOMPARE(m_view->selectedPageLocalID(), std::optional<QString>(page.localID));

    // Typed at once, wherever the keyboard is.
    QVERIFY(QApplication::focusWidget());
    QTest::keyClicks(QApplication::focusWidget(), QStringLiteral("Q"));
    auto stored = [&] {
        QStringList out;
        for (const FNBlock &block : m_app->store.state().blocks) {
            if (block.pageLocalID == page.localID && !block.deletedAt)
                out << BlockContent::readString(BlockContent::decode(block.contentJSON),
                                                QStringLiteral("text"));
        }
        return out;
    };
    QTRY_COMPARE(stored(), texts2);
    QTRY_COMPARE(m_app->storedPage(page.localID).title, title2);
}

QTEST_MAIN(TestPageOpening)
#include "tst_page_opening.moc"
