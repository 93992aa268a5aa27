#include "app/main_view.h"
#include "collab/publish_sheet.h"
#include "collab/publish_sheet_model.h"
#include "editor/page_view.h"
#include "fake-service/fake_service.h"
#include "library/library_list_view.h"
#include "library/library_row_model.h"
#include "library/library_view.h"
#include "support/collab_steps.h"
#include "support/journey.h"
#include "support/library_steps.h"
#include "ui/empty_state_view.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QToolButton>
#include <QTreeView>

#include <memory>

namespace {

const QString kEmail = QStringLiteral("ada@example.com");
const QString kPassword = QStringLiteral("lovelace1");
const QString kName = QStringLiteral("Ada Byron");
const QString kNumbers = QStringLiteral("Q3 numbers");
const QString kGarden = QStringLiteral("Garden plan");
const QString kPublish = QStringLiteral("/api/publish.php");

} // namespace

using namespace journey;

// A user finds a page by the words in it from the sidebar, online and then offline, and opens the
// publish sheet of a live page while the service fails to answer: in the real window against the fake
// service. The steps run in order and build on each other.
class TestFindAndPublishJourney : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void cleanupTestCase();

    void writeTwoPages();
    void findAPageByItsWords();
    void aPublishSheetThatCannotReadItsStatus();

private:
    void shoot(const QString &name, QWidget *sheet = nullptr);
    void writePage(const QString &title, const QStringList &blocks);
    QStringList listed() const;

    FakeService m_fake;
    AppDevice m_device;
    std::unique_ptr<Launch> m_app;
    QString m_screenshots;
    bool m_failed = false;
};

void TestFindAndPublishJourney::initTestCase()
{
    m_screenshots = screenshotFolder();
    m_app = launchOnFakeService(m_fake, m_device);
    QVERIFY(m_app);
}

void TestFindAndPublishJourney::init()
{
    if (m_failed)
        QSKIP("an earlier step failed");
    activate(m_app->window.get());
}

void TestFindAndPublishJourney::cleanup()
{
    m_failed = m_failed || QTest::currentTestFailed();
}

void TestFindAndPublishJourney::cleanupTestCase()
{
    quit(m_app);
}

void TestFindAndPublishJourney::shoot(const QString &name, QWidget *sheet)
{
    QVERIFY(saveShot(m_screenshots, name, m_app->window.get(), sheet));
}

void TestFindAndPublishJourney::writePage(const QString &title, const QStringList &blocks)
{
    activate(m_app->window.get());
    QTest::keyClick(m_app->window.get(), Qt::Key_N, Qt::ControlModifier);
    QTRY_VERIFY(m_app->pageView() && m_app->pageView()->titleField()->hasFocus());
    PageView *page = m_app->pageView();
    QTest::keyClicks(keyboard(), title);
    QTRY_COMPARE(page->topLevelList()->rows().size(), size_t(1));
    typeBlocks(page, blocks);
    QTRY_COMPARE_WITH_TIMEOUT(storedTexts(m_fake, pageServerID(m_fake, title)), blocks, kWait);
}

// The titles the sidebar lists under its search field, as drawn.
QStringList TestFindAndPublishJourney::listed() const
{
    LibraryView *sidebar = m_app->sidebar();
    QStringList titles;
    if (sidebar->listView()->isHidden())
        return titles;
    const LibraryRowModel &model = sidebar->rowModel();
    for (int row = 0; row < model.rowCount(); ++row)
        titles << model.index(row).data().toString();
    return titles;
}

void TestFindAndPublishJourney::writeTwoPages()
{
    signInThroughTheForm(*m_app, kEmail, kPassword, kName);
    QTRY_VERIFY_WITH_TIMEOUT(upToDate(*m_app), kWait);
    writePage(kNumbers, {QStringLiteral("The budget for the quarter"), QStringLiteral("Travel is over plan")});
    writePage(kGarden, {QStringLiteral("Plant the tomatoes in May"), QStringLiteral("Buy seeds")});
    QTRY_VERIFY_WITH_TIMEOUT(upToDate(*m_app), kWait);
}

void TestFindAndPublishJourney::findAPageByItsWords()
{
    LibraryView *sidebar = m_app->sidebar();
    QTest::mouseClick(sidebar->searchEdit(), Qt::LeftButton);
    QTest::keyClicks(keyboard(), QStringLiteral("budget"));
    // Found by its text, which only the service searches.
    QTRY_COMPARE_WITH_TIMEOUT(listed(), QStringList{kNumbers}, kWait);
    shoot(QStringLiteral("30-search.png"));

    // Offline, another query: nothing of "budget" stays listed under it.
    m_fake.setOffline(true);
    sidebar->searchEdit()->selectAll();
    QTest::keyClicks(keyboard(), QStringLiteral("zebra"));
    QTRY_COMPARE(listed(), QStringList{});
    QTRY_VERIFY_WITH_TIMEOUT(sidebar->noMatchesView()->isVisible() &&
                                 sidebar->noMatchesView()->titleLabel()->text() == QStringLiteral("No matches"),
                             kWait);
    shoot(QStringLiteral("31-search-no-matches.png"));
    // A title still matches offline.
    sidebar->searchEdit()->selectAll();
    QTest::keyClicks(keyboard(), QStringLiteral("garden"));
    QTRY_COMPARE_WITH_TIMEOUT(listed(), QStringList{kGarden}, kWait);

    m_fake.setOffline(false);
    sidebar->searchEdit()->clear();
    QTRY_VERIFY(sidebarRow(sidebar, kNumbers).isValid() && sidebarRow(sidebar, kGarden).isValid());
}

void TestFindAndPublishJourney::aPublishSheetThatCannotReadItsStatus()
{
    clickRow(m_app->sidebar(), kGarden);
    QTRY_VERIFY_WITH_TIMEOUT(m_app->pageView() && m_app->pageView()->publishButton()->isEnabled(), kWait);
    PageView *page = m_app->pageView();

    // Published with comments allowed.
    QTest::mouseClick(page->publishButton(), Qt::LeftButton);
    PublishSheet *sheet = nullptr;
    QTRY_VERIFY((sheet = shownSheet<PublishSheet>(*m_app)));
    QTRY_VERIFY_WITH_TIMEOUT(!sheet->model().loading(), kWait);
    const auto commentsBox = [](PublishSheet *shown) -> QCheckBox * {
        for (QCheckBox *box : shown->findChildren<QCheckBox *>()) {
            if (box->text() == QStringLiteral("Allow comments"))
                return box;
        }
        return nullptr;
    };
    QCheckBox *comments = commentsBox(sheet);
    QVERIFY(comments);
    // A click on its box.
    if (!comments->isChecked())
        QTest::mouseClick(comments, Qt::LeftButton, {}, QPoint(comments->height() / 2, comments->height() / 2));
    QVERIFY(comments->isChecked());
    QTest::mouseClick(sheet->primaryButton(), Qt::LeftButton);
    const qint64 pageID = pageServerID(m_fake, kGarden);
    QTRY_VERIFY_WITH_TIMEOUT(m_fake.state().publications[pageID].published, kWait);
    QVERIFY(m_fake.state().publications[pageID].allowComments);
    QTest::keyClick(sheet, Qt::Key_Escape);
    QTRY_VERIFY(!shownSheet<PublishSheet>(*m_app));

    // Opened again while the service is down: the sheet says so and sends nothing.
    m_fake.clearRequests();
    m_fake.setFault(kPublish, once(FakeService::Fault::http(503, R"({"error":"maintenance"})")));
    QTest::mouseClick(page->publishButton(), Qt::LeftButton);
    QTRY_VERIFY((sheet = shownSheet<PublishSheet>(*m_app)));
    QTRY_VERIFY_WITH_TIMEOUT(!sheet->model().loading(), kWait);
    QPushButton *tryAgain = buttonLabelled(sheet, QStringLiteral("Try Again"));
    QVERIFY(tryAgain && tryAgain->isVisible());
    QVERIFY(!sheet->primaryButton()->isVisible());
    bool told = false;
    for (const QLabel *label : sheet->findChildren<QLabel *>())
        told = told || (label->isVisible() && label->text().contains(QStringLiteral("maintenance")));
    QVERIFY(told);
    shoot(QStringLiteral("32-publish-error.png"), sheet);
    QCOMPARE(requestsWith(m_fake, kPublish, "POST").size(), size_t(0));

    // Read again: the live page's settings, comments still on.
    QTest::mouseClick(tryAgain, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(sheet->primaryButton()->isVisible(), kWait);
    QCOMPARE(sheet->primaryButton()->text(), QStringLiteral("Save changes"));
    QVERIFY(commentsBox(sheet) && commentsBox(sheet)->isChecked());
    QTest::keyClick(sheet, Qt::Key_Escape);
    QTRY_VERIFY(!shownSheet<PublishSheet>(*m_app));
    QVERIFY(m_fake.state().publications[pageID].allowComments);
}

QTEST_MAIN(TestFindAndPublishJourney)
#include "tst_find_and_publish_journey.moc"
