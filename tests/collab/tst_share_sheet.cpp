#include "collab/share_sheet.h"
#include "collab/share_sheet_model.h"
#include "fake-service/fake_service.h"
#include "json/json_value.h"
#include "support/library_steps.h"
#include "support/task_outcome.h"
#include "support/test_device.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>

#include <memory>

namespace {

const QString kShare = QStringLiteral("/api/share.php");

} // namespace

// Sharing a page from its share sheet, end to end against the fake service.
class TestShareSheet : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void effectiveRole_data();
    void effectiveRole();
    void titleAndFirstRole();
    void inviteReplies_data();
    void inviteReplies();
    void badgeCountsTheReloadedLists_data();
    void badgeCountsTheReloadedLists();
    void failedReloadLeavesTheBadge();
    void removeThatFailsStillReloads();
    void invitedAddressThatSignsUpHasAccess();
    void sheetTakesTheAddressTypedRightAway();
    void spinnersAndAListThatTypingLeavesAlone();

private:
    std::unique_ptr<ShareSheetModel> model();

    FakeService m_fake;
    FakeService::Account m_account;
    FakeService::Account m_bob;
    std::unique_ptr<TestDevice> m_device;
    qint64 m_pageID = 0;
    int m_accounts = 0;
};

void TestShareSheet::initTestCase()
{
    QVERIFY(m_fake.start());
}

void TestShareSheet::init()
{
    m_fake.clearFaults();
    ++m_accounts;
    m_account = m_fake.createAccount(QStringLiteral("own%1@example.com").arg(m_accounts), "secret12", "Olga");
    m_bob = m_fake.createAccount(QStringLiteral("bob%1@example.com").arg(m_accounts), "secret12", "Bob");
    m_device = deviceInWorkspace(m_fake, m_account);
    const FNPage page = m_device->addPage(m_account.workspaceId, QStringLiteral("Plans"));
    QVERIFY(m_device->sync());
    m_pageID = m_device->page(page.localID)->serverID;
    QVERIFY(m_pageID != 0);
    m_fake.clearRequests();
}

void TestShareSheet::cleanup()
{
    m_device.reset();
}

std::unique_ptr<ShareSheetModel> TestShareSheet::model()
{
    return std::make_unique<ShareSheetModel>(&m_device->client(), &m_device->store(), m_pageID);
}

void TestShareSheet::effectiveRole_data()
{
    QTest::addColumn<std::optional<QString>>("role");
    QTest::addColumn<QStringList>("permissions");
    QTest::addColumn<QString>("label");
    QTest::newRow("comment") << std::optional<QString>() << QStringList{"view", "comment"} << "Comment only";
    QTest::newRow("edit and delete") << std::optional<QString>() << QStringList{"edit", "delete"}
                                     << "Full access";
    QTest::newRow("edit") << std::optional<QString>() << QStringList{"view", "edit"} << "Can edit";
    QTest::newRow("none") << std::optional<QString>() << QStringList{} << "View only";
    QTest::newRow("case matters") << std::optional<QString>() << QStringList{"Delete"} << "View only";
    QTest::newRow("role wins") << std::optional<QString>(QStringLiteral("suggest")) << QStringList{"delete"}
                               << "Suggest edits";
    QTest::newRow("unknown id shown raw")
        << std::optional<QString>(QStringLiteral("owner")) << QStringList{} << "owner";
}

void TestShareSheet::effectiveRole()
{
    QFETCH(std::optional<QString>, role);
    QFETCH(QStringList, permissions);
    QFETCH(QString, label);
    const std::vector<QString> words(permissions.begin(), permissions.end());
    QCOMPARE(ShareSheetModel::roleLabel(ShareSheetModel::effectiveRole(role, words)), label);
}

void TestShareSheet::titleAndFirstRole()
{
    QCOMPARE(ShareSheetModel::title(QString()), QStringLiteral("Share \"Untitled\""));
    QCOMPARE(ShareSheetModel::title(QStringLiteral(" Plans")), QStringLiteral("Share \" Plans\""));
    const auto m = model();
    QCOMPARE(ShareSheetModel::roleLabel(m->role()), QStringLiteral("Can edit"));
    QCOMPARE(ShareSheetModel::roleHint(m->role()),
             std::optional<QString>(QStringLiteral("Read and edit anything on the page")));
    QCOMPARE(ShareSheetModel::trimmedEmail(QStringLiteral(" \ta@b.c\t ")), QStringLiteral("a@b.c"));
    QCOMPARE(ShareSheetModel::trimmedEmail(QStringLiteral("a@b.c\n")), QStringLiteral("a@b.c\n"));
}

void TestShareSheet::inviteReplies_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("reply"); // empty: the fake answers
    QTest::addColumn<QString>("info");
    QTest::addColumn<QString>("error");
    QTest::addColumn<bool>("cleared");
    QTest::newRow("new address") << 200 << QByteArray() << "Invite emailed."
                                 << "" << true;
    QTest::newRow("ok without kind") << 200 << QByteArray(R"({"ok":true})") << "Shared."
                                     << "" << true;
    QTest::newRow("ok, other kind") << 200 << QByteArray(R"({"ok":true,"kind":"added"})") << "Shared."
                                    << "" << true;
    QTest::newRow("ok false, no error") << 200 << QByteArray(R"({"ok":false})") << ""
                                        << "" << false;
    QTest::newRow("empty object") << 200 << QByteArray("{}") << ""
                                  << "" << false;
    QTest::newRow("ok false with words") << 200 << QByteArray(R"({"ok":false,"error":"Seat limit"})") << ""
                                         << "Seat limit" << false;
    QTest::newRow("ok not a boolean") << 200 << QByteArray(R"({"ok":"yes"})") << ""
                                      << "Couldn't read the server's response." << false;
    QTest::newRow("refused with words") << 403 << QByteArray(R"({"error":"Not yours"})") << ""
                                        << "Not yours" << false;
    QTest::newRow("refused, no words") << 500 << QByteArray("oops") << ""
                                       << "Share failed" << false;
}

void TestShareSheet::inviteReplies()
{
    QFETCH(int, status);
    QFETCH(QByteArray, reply);
    QFETCH(QString, info);
    QFETCH(QString, error);
    QFETCH(bool, cleared);
    const auto m = model();
    QVERIFY(runTask(m->loadShares()).ok());
    m_fake.clearRequests();
    m->setEmail(QStringLiteral("  carol@example.com\t"));
    if (!reply.isEmpty())
        m_fake.setFault(kShare, once(FakeService::Fault::http(status, reply)));
    QVERIFY(runTask(m->sendInvite()).ok());

    const auto posts = requestsWith(m_fake, kShare, "POST");
    QCOMPARE(posts.size(), size_t(1));
    const JSONObject sent = parseJSONObject(posts.front().body);
    QCOMPARE(JSONValue(sent)[QStringLiteral("email")].toString(), QStringLiteral("carol@example.com"));
    QCOMPARE(JSONValue(sent)[QStringLiteral("role")].toString(), QStringLiteral("edit"));
    QVERIFY(!sent.contains(QStringLiteral("permissions")));
    QCOMPARE(m->info().value_or(QString()), info);
    QCOMPARE(m->error().value_or(QString()), error);
    QCOMPARE(m->email().isEmpty(), cleared);
    QCOMPARE(requestsWith(m_fake, kShare, "GET").size(), size_t(cleared ? 1 : 0));
    QVERIFY(!m->sending());
}

void TestShareSheet::badgeCountsTheReloadedLists_data()
{
    QTest::addColumn<bool>("closeFirst");
    QTest::newRow("sheet open") << false;
    QTest::newRow("sheet closed before the reply") << true;
}

void TestShareSheet::badgeCountsTheReloadedLists()
{
    QFETCH(bool, closeFirst);
    m_device->store().setPageStatus(m_pageID, FNPageStatus{true, 0});
    auto m = model();
    QVERIFY(runTask(m->loadShares()).ok());
    m->setEmail(QStringLiteral("bob%1@example.com").arg(m_accounts));
    QVERIFY(runTask(m->sendInvite()).ok());
    m->setEmail(QStringLiteral("carol@example.com"));
    m_fake.setFault(kShare, once(FakeService::Fault::delay(150)));
    auto task = m->sendInvite();
    if (closeFirst)
        m.reset();
    QVERIFY(runTask(std::move(task)).ok());
    const FNPageStatus status = m_device->store().pageStatus(m_pageID);
    QCOMPARE(status.sharedCount, qint64(2));
    QCOMPARE(status.published, true);
    if (m) {
        QCOMPARE(m->shares().size(), size_t(1));
        QCOMPARE(m->invites().size(), size_t(1));
    }
}

void TestShareSheet::failedReloadLeavesTheBadge()
{
    m_device->store().setPageStatus(m_pageID, FNPageStatus{true, 7});
    const auto m = model();
    QVERIFY(runTask(m->loadShares()).ok());
    m->setEmail(QStringLiteral("carol@example.com"));
    // The invite goes through; the reload after it fails.
    const auto failReload =
        connect(&m_fake, &FakeService::requestReceived, this, [this](const HttpRequest &r) {
            if (r.method == "GET")
                m_fake.setFault(kShare, once(FakeService::Fault::http(500, "{}")));
        });
    QVERIFY(runTask(m->sendInvite()).ok());
    disconnect(failReload);
    QCOMPARE(m->info(), std::optional<QString>(QStringLiteral("Invite emailed.")));
    QCOMPARE(requestsWith(m_fake, kShare, "GET").size(), size_t(2));
    QVERIFY(m->invites().empty()); // the lists as they were
    const FNPageStatus status = m_device->store().pageStatus(m_pageID);
    QCOMPARE(status.sharedCount, qint64(7));
    QCOMPARE(status.published, true);
}

void TestShareSheet::removeThatFailsStillReloads()
{
    const auto m = model();
    m->setEmail(QStringLiteral("carol@example.com"));
    QVERIFY(runTask(m->loadShares()).ok());
    QVERIFY(runTask(m->sendInvite()).ok());
    QCOMPARE(m->invites().size(), size_t(1));
    m_device->store().setPageStatus(m_pageID, FNPageStatus{false, 9});
    m_fake.clearRequests();
    m_fake.setFault(kShare, once(FakeService::Fault::http(500, R"({"error":"busy"})")));
    QVERIFY(runTask(m->revokeInvite(m->invites().front())).ok());
    QCOMPARE(requestsWith(m_fake, kShare, "DELETE").size(), size_t(1));
    QCOMPARE(requestsWith(m_fake, kShare, "GET").size(), size_t(1));
    QCOMPARE(m->invites().size(), size_t(1));
    QCOMPARE(m_device->store().pageStatus(m_pageID).sharedCount, qint64(1));
    QVERIFY(!m->error());

    QVERIFY(runTask(m->revokeInvite(m->invites().front())).ok());
    QVERIFY(m->invites().empty());
    QCOMPARE(m_device->store().pageStatus(m_pageID).sharedCount, qint64(0));
}

void TestShareSheet::invitedAddressThatSignsUpHasAccess()
{
    const auto m = model();
    QVERIFY(runTask(m->loadShares()).ok());
    m->setEmail(QStringLiteral("Dora@Example.com"));
    m->setRole(QStringLiteral("comment"));
    QVERIFY(runTask(m->sendInvite()).ok());
    QCOMPARE(m->info(), std::optional<QString>(QStringLiteral("Invite emailed.")));
    QCOMPARE(m->invites().size(), size_t(1));

    m_fake.createAccount(QStringLiteral("dora@example.com"), "secret12", "Dora");
    QVERIFY(runTask(m->loadShares()).ok());
    QVERIFY(m->invites().empty());
    QCOMPARE(m->shares().size(), size_t(1));
    QCOMPARE(m->shares().front().name, QStringLiteral("Dora"));
    QCOMPARE(ShareSheetModel::effectiveRole(m->shares().front().role, m->shares().front().permissions),
             QStringLiteral("comment"));

    // Inviting someone who has access again changes their role, and lists them once.
    m->setEmail(QStringLiteral("dora@example.com"));
    m->setRole(QStringLiteral("view"));
    QVERIFY(runTask(m->sendInvite()).ok());
    QCOMPARE(m->info(), std::optional<QString>(QStringLiteral("Shared.")));
    QCOMPARE(m->shares().size(), size_t(1));
    QVERIFY(m->invites().empty());
    QCOMPARE(m->shares().front().role, std::optional<QString>(QStringLiteral("view")));
}

void TestShareSheet::sheetTakesTheAddressTypedRightAway()
{
    FNPage page = *m_device->pageWithServerID(m_pageID);
    ShareSheet sheet(m_device->context(), page);
    sheet.show();
    QVERIFY(QTest::qWaitForWindowActive(&sheet));
    QVERIFY(!sheet.sendButton()->isEnabled());
    QTest::keyClicks(QApplication::focusWidget(), QStringLiteral("erin@example.com"));
    QCOMPARE(sheet.emailField()->text(), QStringLiteral("erin@example.com"));
    QTRY_VERIFY(sheet.sendButton()->isEnabled());
    sheet.sendButton()->click();
    QTRY_COMPARE(sheet.model().invites().size(), size_t(1));
    QVERIFY(sheet.emailField()->text().isEmpty());
}

void TestShareSheet::spinnersAndAListThatTypingLeavesAlone()
{
    const auto first = model();
    first->setEmail(QStringLiteral("bob%1@example.com").arg(m_accounts));
    QVERIFY(runTask(first->sendInvite()).ok());
    QCOMPARE(first->shares().size(), size_t(1));

    // Loading: a spinner, not a bar.
    m_fake.clearRequests();
    m_fake.setFault(kShare, once(FakeService::Fault::held()));
    FNPage page = *m_device->pageWithServerID(m_pageID);
    ShareSheet sheet(m_device->context(), page);
    sheet.show();
    QVERIFY(QTest::qWaitForWindowActive(&sheet));
    auto *spinner = sheet.findChild<QLabel *>(QStringLiteral("loadingSpinner"));
    QVERIFY(spinner && spinner->isVisible());
    QVERIFY(!spinner->pixmap().isNull());
    QVERIFY(!sheet.findChild<QProgressBar *>());
    QTRY_VERIFY(!m_fake.requestsTo(kShare).isEmpty());
    m_fake.releaseHeldAnswers();
    QTRY_VERIFY(!sheet.model().loading());
    QVERIFY(!spinner->isVisible());

    // Each keystroke of an address leaves the people listed as they are.
    const QPointer<QWidget> list = sheet.peopleList();
    QVERIFY(list);
    QTest::keyClicks(sheet.emailField(), QStringLiteral("erin@example.com"));
    QCOMPARE(sheet.peopleList(), list.data());
    QVERIFY(!list.isNull());

    // Sending: the spinner stands before the words, which stay as they are.
    QVERIFY(sheet.sendButton()->icon().isNull());
    m_fake.setFault(kShare, once(FakeService::Fault::held()));
    QTest::mouseClick(sheet.sendButton(), Qt::LeftButton);
    QTRY_VERIFY(sheet.model().sending());
    QVERIFY(!sheet.sendButton()->icon().isNull());
    QCOMPARE(sheet.sendButton()->text(), QStringLiteral("Send invite"));
    QTRY_COMPARE(m_fake.requestsTo(kShare).size(), 2);
    m_fake.releaseHeldAnswers();
    QTRY_VERIFY(!sheet.model().sending());
    QVERIFY(sheet.sendButton()->icon().isNull());
    QTRY_COMPARE(sheet.model().invites().size(), size_t(1));
    // The list shows the new invite.
    QVERIFY(sheet.peopleList() != list.data());
}

QTEST_MAIN(TestShareSheet)
#include "tst_share_sheet.moc"
