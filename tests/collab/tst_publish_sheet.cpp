#include "collab/publish_sheet.h"
#include "collab/publish_sheet_model.h"
#include "fake-service/fake_service.h"
#include "json/json_value.h"
#include "platform/recording_clipboard.h"
#include "platform/recording_url_opener.h"
#include "support/fake_http_client.h"
#include "support/library_steps.h"
#include "support/task_outcome.h"
#include "support/test_device.h"

#include <QCheckBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QUrl>

#include <memory>

using namespace std::chrono_literals;

namespace {

const QString kPublish = QStringLiteral("/api/publish.php");

QPushButton *buttonTitled(const QWidget &parent, const QString &text)
{
    for (QPushButton *button : parent.findChildren<QPushButton *>()) {
        if (button->text() == text)
            return button;
    }
    return nullptr;
}

} // namespace

// Publishing a page to the web from its publish sheet, end to end against the fake service.
class TestPublishSheet : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void statusMapping_data();
    void statusMapping();
    void passwordKeyAndHint_data();
    void passwordKeyAndHint();
    void embedSnippet_data();
    void embedSnippet();
    void unpublishRefusalShowsTheStatusMessage();
    void publishRefusalShowsTheServiceWords_data();
    void publishRefusalShowsTheServiceWords();
    void badge_data();
    void badge();
    void copiedResets();
    void twoFetchesOfThePublicPageGiveTwoViews();
    void spinnersWhileLoadingAndSaving();
    void failedReadOffersTryAgainAndSendsNothing_data();
    void failedReadOffersTryAgainAndSendsNothing();

private:
    std::unique_ptr<PublishSheetModel>
    model(std::chrono::milliseconds copiedFor = PublishSheetModel::kCopiedFor);

    FakeService m_fake;
    FakeService::Account m_account;
    std::unique_ptr<TestDevice> m_device;
    RecordingClipboard m_clipboard;
    RecordingUrlOpener m_opener;
    qint64 m_pageID = 0;
    int m_accounts = 0;
};

void TestPublishSheet::initTestCase()
{
    QVERIFY(m_fake.start());
}

void TestPublishSheet::init()
{
    m_fake.clearFaults();
    m_account =
        m_fake.createAccount(QStringLiteral("pub%1@example.com").arg(++m_accounts), "secret12", "Pia");
    m_device = deviceInWorkspace(m_fake, m_account);
    const FNPage page = m_device->addPage(m_account.workspaceId, QStringLiteral("Garden notes"));
    m_device->addBlock(page.localID, QStringLiteral("Tomatoes first"), 0);
    QVERIFY(m_device->sync());
    QVERIFY(m_device->queueBlockUpsert(page.localID));
    QVERIFY(m_device->sync());
    m_pageID = m_device->page(page.localID)->serverID;
    QVERIFY(m_pageID != 0);
    m_fake.clearRequests();
}

void TestPublishSheet::cleanup()
{
    m_device.reset();
}

std::unique_ptr<PublishSheetModel> TestPublishSheet::model(std::chrono::milliseconds copiedFor)
{
    return std::make_unique<PublishSheetModel>(
        PublishSheetModel::Services{&m_device->client(), &m_device->store(), &m_clipboard, &m_opener},
        m_pageID, copiedFor);
}

void TestPublishSheet::statusMapping_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<bool>("published");
    QTest::addColumn<bool>("comments");
    QTest::addColumn<bool>("subpages");
    QTest::addColumn<QString>("views"); // empty: no line
    QTest::addColumn<bool>("password");
    QTest::newRow("all on") << QByteArray(R"({"published":true,"url":"https://x/p/a","allow_comments":1,)"
                                          R"("include_subpages":1,"view_count":1,"has_password":true})")
                            << true << true << true << "1 view" << true;
    QTest::newRow("flags other than 1")
        << QByteArray(R"({"published":true,"allow_comments":2,"include_subpages":0,)"
                      R"("view_count":2})")
        << true << false << false << "2 views" << false;
    QTest::newRow("nulls") << QByteArray(R"({"published":true,"allow_comments":null,"include_subpages":null,)"
                                         R"("view_count":null,"has_password":null})")
                           << true << false << false << "" << false;
    QTest::newRow("no view count") << QByteArray(R"({"published":false})") << false << false << false << ""
                                   << false;
    QTest::newRow("no views yet") << QByteArray(R"({"published":true,"view_count":0})") << true << false
                                  << false << "" << false;
    QTest::newRow("published missing")
        << QByteArray(R"({"allow_comments":1})") << false << false << false << "" << false;
}

void TestPublishSheet::statusMapping()
{
    QFETCH(QByteArray, reply);
    QFETCH(bool, published);
    QFETCH(bool, comments);
    QFETCH(bool, subpages);
    QFETCH(QString, views);
    QFETCH(bool, password);
    m_fake.setFault(kPublish, once(FakeService::Fault::http(200, reply)));
    const auto m = model();
    QVERIFY(runTask(m->loadStatus()).ok());
    QVERIFY(!m->loading());
    QCOMPARE(m->published(), published);
    QCOMPARE(m->allowComments(), comments);
    QCOMPARE(m->includeSubpages(), subpages);
    QCOMPARE(PublishSheetModel::viewLine(m->viewCount()).value_or(QString()), views);
    QCOMPARE(m->hasPassword(), password);
    QVERIFY(!m->error());
}

void TestPublishSheet::passwordKeyAndHint_data()
{
    QTest::addColumn<QString>("password");
    QTest::newRow("empty field") << "";
    QTest::newRow("a password") << "tulip";
}

void TestPublishSheet::passwordKeyAndHint()
{
    QFETCH(QString, password);
    const auto m = model();
    QVERIFY(runTask(m->loadStatus()).ok());
    m->setPassword(password);
    m->setAllowComments(true);
    auto task = m->publish();
    // Typed while the request is away: the hint still follows what was sent.
    m->setPassword(password.isEmpty() ? QStringLiteral("late") : QString());
    QVERIFY(runTask(std::move(task)).ok());

    const auto posts = requestsWith(m_fake, kPublish, "POST");
    QCOMPARE(posts.size(), size_t(1));
    const JSONObject sent = parseJSONObject(posts.front().body);
    QCOMPARE(sent.contains(QStringLiteral("password")), !password.isEmpty());
    QCOMPARE(JSONValue(sent)[QStringLiteral("allow_comments")].toBool(), true);
    QVERIFY(m->published());
    QCOMPARE(m->hasPassword(), !password.isEmpty());
    QCOMPARE(m->showsPasswordHint(), !password.isEmpty());
    QCOMPARE(m_fake.state().publications[m_pageID].password, password);
}

void TestPublishSheet::embedSnippet_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<QString>("src");
    QTest::newRow("plain") << "https://penroost.app/p/a-1"
                           << "https://penroost.app/p/a-1";
    QTest::newRow("a double quote") << "https://x/p/a\"onload=\"x"
                                    << "https://x/p/a&quot;onload=&quot;x";
    QTest::newRow("other characters as given") << "https://x/p/a?b=1&c=<d>'"
                                               << "https://x/p/a?b=1&c=<d>'";
}

void TestPublishSheet::embedSnippet()
{
    QFETCH(QString, url);
    QFETCH(QString, src);
    QCOMPARE(
        PublishSheetModel::embedSnippet(url),
        "<iframe src=\"" + src +
            "\" width=\"100%\" height=\"700\" frameborder=\"0\" loading=\"lazy\" allowfullscreen></iframe>");
    const auto m = model();
    m->copyEmbed(url);
    QCOMPARE(m_clipboard.texts().last(), PublishSheetModel::embedSnippet(url));
}

void TestPublishSheet::unpublishRefusalShowsTheStatusMessage()
{
    const auto m = model();
    QVERIFY(runTask(m->loadStatus()).ok());
    QVERIFY(runTask(m->publish()).ok());
    m_fake.setFault(kPublish,
                    once(FakeService::Fault::http(403, R"({"error":"Only the owner can unpublish"})")));
    QVERIFY(runTask(m->unpublish()).ok());
    QCOMPARE(m->error(), std::optional<QString>(QStringLiteral(
                             "You don't have permission to do that. (Only the owner can unpublish)")));
    QVERIFY(m->published());
    QVERIFY(!m->saving());
}

void TestPublishSheet::publishRefusalShowsTheServiceWords_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("error");
    QTest::newRow("service words") << 403 << QByteArray(R"({"error":"Not yours"})") << "Not yours";
    QTest::newRow("no words") << 500 << QByteArray("<html>oops</html>") << "Publish failed";
    QTest::newRow("undecodable 2xx") << 200 << QByteArray(R"({"url":"x"})")
                                     << "Couldn't read the server's response.";
}

void TestPublishSheet::publishRefusalShowsTheServiceWords()
{
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(QString, error);
    const auto m = model();
    QVERIFY(runTask(m->loadStatus()).ok());
    m->setPassword(QStringLiteral("kept"));
    m_fake.setFault(kPublish, once(FakeService::Fault::http(status, body)));
    QVERIFY(runTask(m->publish()).ok());
    QCOMPARE(m->error(), std::optional<QString>(error));
    QCOMPARE(m->password(), QStringLiteral("kept"));
    QVERIFY(!m->saving());
}

void TestPublishSheet::badge_data()
{
    QTest::addColumn<bool>("hadEntry");
    QTest::addColumn<QByteArray>("publishReply"); // empty: the fake answers
    QTest::addColumn<bool>("unpublishAfter");
    QTest::addColumn<bool>("published");
    QTest::newRow("published, share count kept") << true << QByteArray() << false << true;
    QTest::newRow("published, no entry before") << false << QByteArray() << false << true;
    QTest::newRow("service says not published")
        << true << QByteArray(R"({"published":false})") << false << false;
    QTest::newRow("unpublished, share count kept") << true << QByteArray() << true << false;
}

void TestPublishSheet::badge()
{
    QFETCH(bool, hadEntry);
    QFETCH(QByteArray, publishReply);
    QFETCH(bool, unpublishAfter);
    QFETCH(bool, published);
    if (hadEntry)
        m_device->store().setPageStatus(m_pageID, FNPageStatus{false, 3});
    auto m = model();
    QVERIFY(runTask(m->loadStatus()).ok());
    if (!publishReply.isEmpty())
        m_fake.setFault(kPublish, once(FakeService::Fault::http(200, publishReply)));
    auto task = m->publish();
    m.reset(); // the sheet closed: the badge is written all the same
    QVERIFY(runTask(std::move(task)).ok());
    if (unpublishAfter) {
        m = model();
        QVERIFY(runTask(m->unpublish()).ok());
    }
    const FNPageStatus status = m_device->store().pageStatus(m_pageID);
    QCOMPARE(status.published, published);
    QCOMPARE(status.sharedCount, hadEntry ? qint64(3) : qint64(0));
}

void TestPublishSheet::copiedResets()
{
    const auto m = model(40ms);
    m->copyURL(QStringLiteral("https://x/p/a"));
    QCOMPARE(m_clipboard.texts().last(), QStringLiteral("https://x/p/a"));
    QVERIFY(m->copied());
    QTRY_VERIFY_WITH_TIMEOUT(!m->copied(), 2000);
}

void TestPublishSheet::twoFetchesOfThePublicPageGiveTwoViews()
{
    auto m = model();
    QVERIFY(runTask(m->loadStatus()).ok());
    m->setPassword(QStringLiteral("tulip"));
    QVERIFY(runTask(m->publish()).ok());
    QVERIFY(m->url());
    m->openInBrowser(*m->url());
    QCOMPARE(m_opener.opened(), QList<QUrl>{QUrl(*m->url())});

    FakeHttpClient visitor(m_fake);
    const QString path = QUrl(*m->url()).path();
    QCOMPARE(visitor.get(path, {}).status, 401); // the password keeps it shut, and no view is counted
    for (int i = 0; i < 2; ++i) {
        const auto page = visitor.get(path + QStringLiteral("?password=tulip"), {});
        QCOMPARE(page.status, 200);
        QVERIFY(page.body.contains("Garden notes"));
        QVERIFY(page.body.contains("Tomatoes first"));
    }
    m = model();
    QVERIFY(runTask(m->loadStatus()).ok());
    QCOMPARE(PublishSheetModel::viewLine(m->viewCount()), std::optional<QString>(QStringLiteral("2 views")));

    // Unpublishing takes the password away with it.
    QVERIFY(runTask(m->unpublish()).ok());
    QVERIFY(runTask(m->publish()).ok());
    m = model();
    QVERIFY(runTask(m->loadStatus()).ok());
    QVERIFY(!m->hasPassword());
}

void TestPublishSheet::spinnersWhileLoadingAndSaving()
{
    m_fake.setFault(kPublish, once(FakeService::Fault::held()));
    PublishSheet sheet(m_device->context(), *m_device->pageWithServerID(m_pageID));
    sheet.show();
    QVERIFY(QTest::qWaitForWindowExposed(&sheet));
    auto *spinner = sheet.findChild<QLabel *>(QStringLiteral("loadingSpinner"));
    QVERIFY(spinner && spinner->isVisible());
    QVERIFY(!spinner->pixmap().isNull());
    QVERIFY(!sheet.findChild<QProgressBar *>());
    QTRY_COMPARE(m_fake.requestsTo(kPublish).size(), 1);
    m_fake.releaseHeldAnswers();
    QTRY_VERIFY(!spinner->isVisible());

    QPushButton *primary = sheet.primaryButton();
    QCOMPARE(primary->text(), QStringLiteral("Publish"));
    QVERIFY(primary->icon().isNull());
    m_fake.setFault(kPublish, once(FakeService::Fault::held()));
    QTest::mouseClick(primary, Qt::LeftButton);
    QTRY_VERIFY(!primary->isEnabled());
    // The spinner before the words, which stay as they are.
    QVERIFY(!primary->icon().isNull());
    QCOMPARE(primary->text(), QStringLiteral("Publish"));
    QTRY_COMPARE(m_fake.requestsTo(kPublish).size(), 2);
    m_fake.releaseHeldAnswers();
    QTRY_COMPARE(primary->text(), QStringLiteral("Save changes"));
    QVERIFY(primary->icon().isNull());
}

void TestPublishSheet::failedReadOffersTryAgainAndSendsNothing_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("message");
    QTest::newRow("server down") << 503 << QByteArray(R"({"error":"maintenance"})")
                                 << "Server problem. Please try again. (maintenance)";
    QTest::newRow("undecodable") << 200 << QByteArray(R"({"url":"x"})")
                                 << "Couldn't read the server's response.";
}

void TestPublishSheet::failedReadOffersTryAgainAndSendsNothing()
{
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(QString, message);
    {
        const auto m = model();
        QVERIFY(runTask(m->loadStatus()).ok());
        m->setAllowComments(true);
        QVERIFY(runTask(m->publish()).ok());
    }
    QVERIFY(m_fake.state().publications[m_pageID].allowComments);
    m_fake.clearRequests();

    m_fake.setFault(kPublish, once(FakeService::Fault::http(status, body)));
    PublishSheet sheet(m_device->context(), *m_device->pageWithServerID(m_pageID));
    sheet.show();
    QVERIFY(QTest::qWaitForWindowExposed(&sheet));
    QTRY_VERIFY_WITH_TIMEOUT(!sheet.model().loading(), 10000);
    // The reason and a way to read again; nothing that could send the defaults over the live page.
    QVERIFY(!sheet.primaryButton()->isVisible());
    QVERIFY(!sheet.unpublishButton()->isVisible());
    bool shown = false;
    for (const QLabel *label : sheet.findChildren<QLabel *>())
        shown = shown || (label->isVisible() && label->text() == message);
    QVERIFY(shown);
    QPushButton *tryAgain = buttonTitled(sheet, QStringLiteral("Try Again"));
    QVERIFY(tryAgain && tryAgain->isVisible());
    QVERIFY(runTask(sheet.model().publish()).ok());
    QVERIFY(runTask(sheet.model().unpublish()).ok());
    QCOMPARE(m_fake.requestsTo(kPublish).size(), 1);

    QTest::mouseClick(tryAgain, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(sheet.primaryButton()->isVisible(), 10000);
    QVERIFY(!tryAgain->isVisible());
    QCOMPARE(sheet.primaryButton()->text(), QStringLiteral("Save changes"));
    QVERIFY(sheet.primaryButton()->isEnabled());
    bool commentsOn = false;
    for (const QCheckBox *box : sheet.findChildren<QCheckBox *>())
        commentsOn = commentsOn || (box->text() == QStringLiteral("Allow comments") && box->isChecked());
    QVERIFY(commentsOn);
    QTest::mouseClick(sheet.primaryButton(), Qt::LeftButton);
    QTRY_COMPARE(requestsWith(m_fake, kPublish, "POST").size(), size_t(1));
    QTRY_VERIFY(!sheet.model().saving());
    QVERIFY(m_fake.state().publications[m_pageID].allowComments);
}

QTEST_MAIN(TestPublishSheet)
#include "tst_publish_sheet.moc"
