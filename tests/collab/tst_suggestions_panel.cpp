#include "api/service_client.h"
#include "collab/suggestions_panel.h"
#include "collab/suggestions_panel_model.h"
#include "fake-service/fake_service.h"
#include "support/fake_http_client.h"
#include "support/library_steps.h"
#include "support/test_device.h"

#include <QLabel>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPushButton>
#include <QTest>
#include <QToolButton>

#include <memory>

namespace {

const QString kSuggestions = QStringLiteral("/api/suggestions.php");
const QString kSync = QStringLiteral("/api/sync.php");

QString labelIn(QWidget *card, const char *name)
{
    auto *label = card ? card->findChild<QLabel *>(QString::fromLatin1(name)) : nullptr;
    return label ? label->text() : QStringLiteral("<none>");
}

QPushButton *buttonIn(QWidget *card, const char *name)
{
    return card->findChild<QPushButton *>(QString::fromLatin1(name));
}

} // namespace

// The suggestions sidebar against the fake service: a suggester's edits listed, the cards, and the
// owner's decisions.
class TestSuggestionsPanel : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void suggesterEditsAreListed();
    void cardShowsTheSuggestion_data();
    void cardShowsTheSuggestion();
    void failedLoadShowsItsMessage_data();
    void failedLoadShowsItsMessage();
    void rejectRemovesTheCardWithoutSync();
    void acceptRemovesTheCardThenSyncsOnce();
    void acceptedChangeHoldsOverAnEditWaiting_data();
    void acceptedChangeHoldsOverAnEditWaiting();
    void failedDecisionKeepsTheCard_data();
    void failedDecisionKeepsTheCard();
    void closingWhileDecidingStillSyncs();
    void previewIsCutAtFourLines();
    void unsyncedPageLoadsNothing();

private:
    std::unique_ptr<SuggestionsPanel> openPanel();
    // Bob, holding the suggest share, sends a new text for the page's block over HTTP.
    void bobEditsTheBlock(const QString &text);
    void bobRenamesThePage(const QString &title);
    void decide(SuggestionsPanel &panel, int card, bool accept);

    FakeService m_fake;
    std::unique_ptr<FakeHttpClient> m_http;
    FakeService::Account m_ann;
    FakeService::Account m_bob;
    std::unique_ptr<TestDevice> m_device;
    FNPage m_page;
    FNBlock m_block;
    int m_accounts = 0;
};

void TestSuggestionsPanel::initTestCase()
{
    QVERIFY(m_fake.start());
    m_http = std::make_unique<FakeHttpClient>(m_fake);
}

void TestSuggestionsPanel::init()
{
    m_fake.clearFaults();
    ++m_accounts;
    m_ann = m_fake.createAccount(QStringLiteral("owner%1@example.com").arg(m_accounts), "secret12",
                                 QStringLiteral("Ann"));
    m_bob = m_fake.createAccount(QStringLiteral("suggester%1@example.com").arg(m_accounts), "secret12",
                                 QStringLiteral("Bob"));
    m_device = deviceInWorkspace(m_fake, m_ann);
    m_page = m_device->addPage(m_ann.workspaceId, QStringLiteral("Plan"));
    QVERIFY(m_device->sync());
    m_block = m_device->addBlock(m_page.localID, QStringLiteral("first draft"), 0);
    QVERIFY(m_device->queueBlockUpsert(m_page.localID));
    QVERIFY(m_device->sync());
    m_page = *m_device->page(m_page.localID);
    m_block = *m_device->block(m_block.localID);
    QVERIFY(m_block.serverID != 0);
    const FakeHttpClient::Reply shared =
        m_http->post(QStringLiteral("/api/share.php"),
                     QStringLiteral(R"({"page_id":%1,"email":"suggester%2@example.com","role":"suggest"})")
                         .arg(m_page.serverID)
                         .arg(m_accounts)
                         .toUtf8(),
                     m_ann.token);
    QCOMPARE(shared.status, 200);
}

void TestSuggestionsPanel::cleanup()
{
    m_fake.clearFaults();
    QTRY_VERIFY(!m_device->engine().isSyncing());
    m_device.reset();
}

std::unique_ptr<SuggestionsPanel> TestSuggestionsPanel::openPanel()
{
    const qint64 id = m_page.serverID;
    auto panel = std::make_unique<SuggestionsPanel>(
        m_device->client(), &m_device->engine(), [id] { return id; }, [] {});
    panel->resize(SuggestionsPanel::kWidth, 600);
    panel->show();
    return panel;
}

void TestSuggestionsPanel::bobEditsTheBlock(const QString &text)
{
    const QByteArray body =
        QStringLiteral(R"({"page_id":%1,"blocks":[{"id":%2,"client_id":"bob","type":"text",)"
                       R"("content":{"text":"%3"},"position":0}]})")
            .arg(m_page.serverID)
            .arg(m_block.serverID)
            .arg(text)
            .toUtf8();
    QCOMPARE(m_http->post(QStringLiteral("/api/blocks.php"), body, m_bob.token).status, 200);
}

void TestSuggestionsPanel::bobRenamesThePage(const QString &title)
{
    const QByteArray body =
        QStringLiteral(R"({"page_id":%1,"title":"%2"})").arg(m_page.serverID).arg(title).toUtf8();
    QCOMPARE(m_http->patch(QStringLiteral("/api/pages.php"), body, m_bob.token).status, 200);
}

void TestSuggestionsPanel::decide(SuggestionsPanel &panel, int card, bool accept)
{
    QTRY_VERIFY(panel.cards().size() > card);
    QTest::mouseClick(buttonIn(panel.cards()[card], accept ? "accept" : "reject"), Qt::LeftButton);
}

void TestSuggestionsPanel::suggesterEditsAreListed()
{
    bobEditsTheBlock(QStringLiteral("better draft"));
    bobRenamesThePage(QStringLiteral("Better plan"));
    auto panel = openPanel();
    QTRY_VERIFY(!panel->model().isLoading());

    QCOMPARE(panel->shownArea(), panel->list());
    const QList<QWidget *> cards = panel->cards();
    QCOMPARE(cards.size(), 2);
    QCOMPARE(labelIn(cards[0], "kind"), QStringLiteral("Edit block"));
    QCOMPARE(labelIn(cards[0], "author"), QStringLiteral("Bob"));
    QCOMPARE(labelIn(cards[0], "preview"), QStringLiteral("better draft"));
    QCOMPARE(labelIn(cards[1], "kind"), QStringLiteral("Change title"));
    QCOMPARE(labelIn(cards[1], "preview"), QStringLiteral("Better plan"));
    // The owner's own copy is untouched until a decision.
    QVERIFY(m_device->sync());
    QCOMPARE(TestDevice::textOf(*m_device->block(m_block.localID)), QStringLiteral("first draft"));
    QCOMPARE(m_device->page(m_page.localID)->title, QStringLiteral("Plan"));
}

void TestSuggestionsPanel::cardShowsTheSuggestion_data()
{
    QTest::addColumn<QByteArray>("fields"); // besides id, page_id and user_id
    QTest::addColumn<bool>("listed");
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("icon");
    QTest::addColumn<QString>("author");
    QTest::addColumn<QString>("date");
    QTest::addColumn<QString>("preview");

    const QByteArray at = R"("created_at":"2024-03-05 09:41:27")";
    const QByteArray pending = R"("status":"pending",)" + at;
    QTest::newRow("title") << (R"("kind":"title_change","user_name":"Bob","payload":{"title":"New"},)" +
                               pending)
                           << true << "Change title"
                           << "textformat"
                           << "Bob"
                           << "2024-03-05 09:41"
                           << "New";
    QTest::newRow("content text")
        << (R"("kind":"block_create","payload":{"content":{"text":"added"},"text":"top"},)" + pending) << true
        << "Add block"
        << "plus.rectangle"
        << "Someone"
        << "2024-03-05 09:41"
        << "added";
    QTest::newRow("content as text is passed over")
        << (R"("kind":"block_delete","user_name":"Bob","payload":{"content":"plain"},)" + pending) << true
        << "Delete block"
        << "minus.rectangle"
        << "Bob"
        << "2024-03-05 09:41"
        << "<none>";
    QTest::newRow("content without text falls to top text")
        << (R"("kind":"block_update","user_name":"Bob","payload":{"content":{"type":"h1"},"text":"top"},)" +
            pending)
        << true << "Edit block"
        << "pencil"
        << "Bob"
        << "2024-03-05 09:41"
        << "top";
    QTest::newRow("title number falls to top text")
        << (R"("kind":"block_update","user_name":"Bob","payload":{"title":4,"text":"top"},)" + pending)
        << true << "Edit block"
        << "pencil"
        << "Bob"
        << "2024-03-05 09:41"
        << "top";
    QTest::newRow("no payload, unknown kind")
        << QByteArray(
               R"("kind":"move_block","user_name":"<b>Bob</b>","status":"pending","created_at":"today")")
        << true << "move_block"
        << "questionmark.circle"
        << "<b>Bob</b>"
        << "today"
        << "<none>";
    QTest::newRow("empty preview keeps its box")
        << (R"("kind":"block_update","user_name":"Bob","payload":{"text":""},)" + pending) << true
        << "Edit block"
        << "pencil"
        << "Bob"
        << "2024-03-05 09:41"
        << "";
    QTest::newRow("accepted") << (R"("kind":"title_change","status":"accepted",)" + at) << false << ""
                              << ""
                              << ""
                              << ""
                              << "";
    QTest::newRow("rejected") << (R"("kind":"title_change","status":"rejected",)" + at) << false << ""
                              << ""
                              << ""
                              << ""
                              << "";
    QTest::newRow("Pending in another case")
        << (R"("kind":"title_change","status":"Pending",)" + at) << false << ""
        << ""
        << ""
        << ""
        << "";
}

void TestSuggestionsPanel::cardShowsTheSuggestion()
{
    QFETCH(QByteArray, fields);
    QFETCH(bool, listed);
    QFETCH(QString, kind);
    QFETCH(QString, icon);
    QFETCH(QString, author);
    QFETCH(QString, date);
    QFETCH(QString, preview);

    const QByteArray body = R"({"suggestions":[{"id":7,"page_id":1,"user_id":2,)" + fields + "}]}";
    m_fake.setFault(kSuggestions, FakeService::Fault::http(200, body));
    auto panel = openPanel();
    QTRY_VERIFY(!panel->model().isLoading());
    if (!listed) {
        QVERIFY(panel->cards().isEmpty());
        QCOMPARE(panel->shownArea(), panel->emptyState());
        return;
    }
    QCOMPARE(panel->cards().size(), 1);
    QWidget *card = panel->cards()[0];
    QCOMPARE(labelIn(card, "kind"), kind);
    QCOMPARE(card->findChild<QLabel *>(QStringLiteral("kindIcon"))->property("symbol").toString(), icon);
    QCOMPARE(labelIn(card, "author"), author);
    QCOMPARE(card->findChild<QLabel *>(QStringLiteral("author"))->textFormat(), Qt::PlainText);
    QCOMPARE(labelIn(card, "date"), date);
    QCOMPARE(labelIn(card, "preview"), preview);
}

void TestSuggestionsPanel::failedLoadShowsItsMessage_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("shown");

    QTest::newRow("500 with error") << 500 << QByteArray(R"({"error":"Down for repairs"})")
                                    << "Server problem. Please try again. (Down for repairs)";
    QTest::newRow("403") << 403 << QByteArray(R"({"error":"<i>No</i>"})")
                         << "You don't have permission to do that. (<i>No</i>)";
    QTest::newRow("no list") << 200 << QByteArray(R"({"items":[]})")
                             << "Couldn't read the server's response.";
    QTest::newRow("empty list") << 200 << QByteArray(R"({"suggestions":[]})") << "";
}

void TestSuggestionsPanel::failedLoadShowsItsMessage()
{
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(QString, shown);

    m_fake.setFault(kSuggestions, FakeService::Fault::http(status, body));
    auto panel = openPanel();
    QTRY_VERIFY(!panel->model().isLoading());
    if (shown.isEmpty()) {
        QCOMPARE(panel->shownArea(), panel->emptyState());
        return;
    }
    QCOMPARE(panel->shownArea(), panel->errorLabel()->parentWidget());
    QCOMPARE(panel->errorLabel()->text(), shown);
    QCOMPARE(panel->errorLabel()->textFormat(), Qt::PlainText);

    // The error stays over the list, even once a reload succeeds.
    m_fake.clearFaults();
    bobRenamesThePage(QStringLiteral("Later"));
    QTest::mouseClick(panel->reloadButton(), Qt::LeftButton);
    QTRY_COMPARE(panel->cards().size(), 1);
    QTRY_VERIFY(!panel->model().isLoading());
    QCOMPARE(panel->shownArea(), panel->errorLabel()->parentWidget());
}

void TestSuggestionsPanel::rejectRemovesTheCardWithoutSync()
{
    bobEditsTheBlock(QStringLiteral("no thanks"));
    bobRenamesThePage(QStringLiteral("Kept"));
    auto panel = openPanel();
    QTRY_COMPARE(panel->cards().size(), 2);
    m_fake.clearRequests();

    decide(*panel, 0, false);
    QTRY_COMPARE(panel->cards().size(), 1);
    QTRY_VERIFY(!panel->model().actingID());
    QCOMPARE(labelIn(panel->cards()[0], "kind"), QStringLiteral("Change title"));
    const std::vector<HttpRequest> patches = requestsWith(m_fake, kSuggestions, "PATCH");
    QCOMPARE(patches.size(), size_t(1));
    QVERIFY(patches[0].body.contains(R"("status":"rejected")"));
    QVERIFY(requestsWith(m_fake, kSync, "POST").empty());
    QCOMPARE(std::next(m_fake.state().suggestions.rbegin())->second.status, QStringLiteral("rejected"));
    QCOMPARE(m_fake.storedBlocks(m_page.serverID)[0].content.at(QStringLiteral("text")).toString(),
             QStringLiteral("first draft"));
}

void TestSuggestionsPanel::acceptRemovesTheCardThenSyncsOnce()
{
    bobEditsTheBlock(QStringLiteral("better draft"));
    auto panel = openPanel();
    QTRY_COMPARE(panel->cards().size(), 1);
    m_fake.clearRequests();
    bool removedBeforeSync = false;
    connect(&m_fake, &FakeService::requestReceived, panel.get(), [&](const HttpRequest &request) {
        if (request.path() == kSync.toUtf8())
            removedBeforeSync = panel->cards().isEmpty();
    });

    decide(*panel, 0, true);
    QVERIFY(panel->model().actingID().has_value());
    QTRY_VERIFY(!panel->model().actingID());
    QVERIFY(panel->cards().isEmpty());
    QCOMPARE(panel->shownArea(), panel->emptyState());
    QVERIFY(removedBeforeSync);
    const std::vector<HttpRequest> patches = requestsWith(m_fake, kSuggestions, "PATCH");
    QCOMPARE(patches.size(), size_t(1));
    QVERIFY(patches[0].body.contains(R"("status":"accepted")"));
    QCOMPARE(requestsWith(m_fake, kSync, "POST").size(), size_t(1));
    // The change came back with that one cycle.
    QCOMPARE(TestDevice::textOf(*m_device->block(m_block.localID)), QStringLiteral("better draft"));
}

void TestSuggestionsPanel::acceptedChangeHoldsOverAnEditWaiting_data()
{
    QTest::addColumn<bool>("stillFailing"); // else only the edit's first send failed
    QTest::newRow("one send failed") << false;
    QTest::newRow("the service still failing") << true;
}

// The owner's own edit of the block, waiting after a failed send, never lands over the suggestion
// accepted after it: it goes first, or the accept waits for it.
void TestSuggestionsPanel::acceptedChangeHoldsOverAnEditWaiting()
{
    QFETCH(bool, stillFailing);
    bobEditsTheBlock(QStringLiteral("better draft"));
    // The device's clock stands still: the failed send waits out its back-off as long as the test runs.
    QDateTime now = QDateTime::currentDateTimeUtc();
    m_device->engine().setClock([&now] { return now; });
    auto failure = FakeService::Fault::http(503, R"({"error":"Busy"})");
    failure.method = "POST";
    m_fake.setFault(QStringLiteral("/api/blocks.php"), stillFailing ? failure : once(failure));
    m_device->setBlockText(m_block.localID, QStringLiteral("my own draft"));
    QVERIFY(m_device->queueBlockUpsert(m_page.localID));
    m_device->sync();
    QCOMPARE(m_device->store().state().outbox.size(), size_t(1));

    auto panel = openPanel();
    QTRY_COMPARE(panel->cards().size(), 1);
    m_fake.clearRequests();
    decide(*panel, 0, true);
    QTRY_VERIFY(!panel->model().actingID());
    const auto serviceText = [&] {
        return m_fake.storedBlocks(m_page.serverID)[0].content.at(QStringLiteral("text")).toString();
    };
    if (stillFailing) {
        QCOMPARE(panel->errorLabel()->text(), QString::fromLatin1(SuggestionsPanelModel::kEditsWaiting));
        QCOMPARE(panel->cards().size(), 1);
        QVERIFY(requestsWith(m_fake, kSuggestions, "PATCH").empty());
        QCOMPARE(m_fake.state().suggestions.rbegin()->second.status, QStringLiteral("pending"));
        QCOMPARE(TestDevice::textOf(*m_device->block(m_block.localID)), QStringLiteral("my own draft"));
        return;
    }
    QVERIFY(panel->cards().isEmpty());
    QCOMPARE(m_fake.state().suggestions.rbegin()->second.status, QStringLiteral("accepted"));
    // Later cycles bring nothing over the accepted text, here or there.
    now = now.addSecs(600);
    QVERIFY(m_device->sync());
    QVERIFY(m_device->store().state().outbox.empty());
    QCOMPARE(serviceText(), QStringLiteral("better draft"));
    QCOMPARE(TestDevice::textOf(*m_device->block(m_block.localID)), QStringLiteral("better draft"));
}

void TestSuggestionsPanel::failedDecisionKeepsTheCard_data()
{
    QTest::addColumn<QByteArray>("fault"); // "" for the service's own refusal (already decided)
    QTest::addColumn<QString>("shown");

    QTest::newRow("500 with error") << QByteArray(R"({"error":"Try later"})")
                                    << "Server problem. Please try again. (Try later)";
    QTest::newRow("empty 200 body") << QByteArray("<empty>") << "Couldn't read the server's response.";
    QTest::newRow("already decided") << QByteArray()
                                     << "That conflicts with the current state. (This suggestion has already "
                                        "been decided.)";
}

void TestSuggestionsPanel::failedDecisionKeepsTheCard()
{
    QFETCH(QByteArray, fault);
    QFETCH(QString, shown);

    bobRenamesThePage(QStringLiteral("Contested"));
    auto panel = openPanel();
    QTRY_COMPARE(panel->cards().size(), 1);
    if (fault == "<empty>")
        m_fake.setFault(kSuggestions, once(FakeService::Fault::http(200, QByteArray())));
    else if (!fault.isEmpty())
        m_fake.setFault(kSuggestions, once(FakeService::Fault::http(500, fault)));
    else
        m_fake.state().suggestions.rbegin()->second.status = QStringLiteral("rejected");
    m_fake.clearRequests();

    decide(*panel, 0, true);
    QTRY_VERIFY(!panel->model().actingID());
    QTRY_COMPARE(panel->shownArea(), panel->errorLabel()->parentWidget());
    QCOMPARE(panel->errorLabel()->text(), shown);
    QCOMPARE(panel->cards().size(), 1);
    QVERIFY(requestsWith(m_fake, kSync, "POST").empty());
    QCOMPARE(m_device->page(m_page.localID)->title, QStringLiteral("Plan"));
}

void TestSuggestionsPanel::closingWhileDecidingStillSyncs()
{
    bobEditsTheBlock(QStringLiteral("accepted after closing"));
    auto panel = openPanel();
    QTRY_COMPARE(panel->cards().size(), 1);
    m_fake.setFault(kSuggestions, once(FakeService::Fault::delay(300)));
    decide(*panel, 0, true);
    panel.reset();
    // The decision and its sync finish against the long-lived objects only.
    QTRY_COMPARE(TestDevice::textOf(*m_device->block(m_block.localID)),
                 QStringLiteral("accepted after closing"));
    QCOMPARE(m_fake.state().suggestions.rbegin()->second.status, QStringLiteral("accepted"));
}

void TestSuggestionsPanel::previewIsCutAtFourLines()
{
    QStringList words;
    for (int i = 0; i < 200; ++i)
        words << QStringLiteral("word%1").arg(i);
    const QString text = words.join(u' ');
    m_fake.setFault(kSuggestions,
                    FakeService::Fault::http(200, QStringLiteral(R"({"suggestions":[{"id":1,)"
                                                                 R"("page_id":1,"user_id":2,)"
                                                                 R"("kind":"block_update","payload":)"
                                                                 R"({"text":"%1"},"status":"pending",)"
                                                                 R"("created_at":"x"}]})")
                                                      .arg(text)
                                                      .toUtf8()));
    auto panel = openPanel();
    QTRY_COMPARE(panel->cards().size(), 1);
    auto *box = panel->cards()[0]->findChild<QLabel *>(QStringLiteral("preview"));
    QVERIFY(box->text().endsWith(u'\u2026'));
    QVERIFY(box->text().size() < text.size());
    QVERIFY(text.startsWith(box->text().chopped(1).left(40)));
    QTRY_VERIFY(box->isVisible());
    // Less tall than the same box holding five short lines.
    QLabel fiveLines(QStringLiteral("a\nb\nc\nd\ne"));
    fiveLines.setFont(box->font());
    fiveLines.setStyleSheet(box->styleSheet());
    fiveLines.setObjectName(box->objectName());
    fiveLines.setWordWrap(true);
    fiveLines.ensurePolished();
    QVERIFY(box->heightForWidth(box->width()) < fiveLines.heightForWidth(box->width()));
    QCOMPARE(box->toolTip(), text);
    // A short text is left whole.
    QCOMPARE(SuggestionsPanel::elidedToLines(QStringLiteral("short"), box->font(), 200, 4),
             QStringLiteral("short"));
}

void TestSuggestionsPanel::unsyncedPageLoadsNothing()
{
    bobRenamesThePage(QStringLiteral("Never asked for"));
    m_fake.clearRequests();
    SuggestionsPanel panel(
        m_device->client(), &m_device->engine(), [] { return qint64(0); }, [] {});
    panel.show();
    QVERIFY(!panel.model().isLoading());
    QCOMPARE(panel.shownArea(), panel.emptyState());
    QTest::qWait(50);
    QVERIFY(requestsWith(m_fake, kSuggestions, "GET").empty());
}

QTEST_MAIN(TestSuggestionsPanel)
#include "tst_suggestions_panel.moc"
