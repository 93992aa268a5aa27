#include "api/service_client.h"
#include "app/main_view.h"
#include "app/page_panels.h"
#include "blocks/block_content.h"
#include "blocks/button_block.h"
#include "collab/ai_panel.h"
#include "collab/ai_panel_model.h"
#include "collab/inline_markdown.h"
#include "editor/block_row.h"
#include "editor/page_view.h"
#include "editor/page_view_model.h"
#include "fake-service/fake_service.h"
#include "platform/recording_clipboard.h"
#include "platform/recording_url_opener.h"
#include "support/app_harness.h"
#include "support/fake_http_client.h"
#include "support/library_steps.h"
#include "support/test_device.h"

#include <QComboBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTextBlock>
#include <QTextDocument>
#include <QToolButton>

#include <algorithm>
#include <memory>

namespace {

const QString kAIPath = QStringLiteral("/api/ai.php");

// The text a reader sees in the answer, and the addresses its links lead to.
struct Shown {
    QString text;
    QStringList links;
};

Shown shown(const QLabel &label)
{
    QTextDocument doc;
    doc.setHtml(label.text());
    Shown out{doc.toPlainText(), {}};
    for (QTextBlock block = doc.begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextCharFormat format = it.fragment().charFormat();
            if (format.isAnchor() && !out.links.contains(format.anchorHref()))
                out.links << format.anchorHref();
        }
    }
    return out;
}

} // namespace

// The AI panel against the fake service: what each action sends, what a reply shows, and a
// button block that asks the AI from inside the page.
class TestAIPanel : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void requestCarriesTheActionsKeys_data();
    void requestCarriesTheActionsKeys();
    void runNeedsTextBeyondSpacesAndTabs_data();
    void runNeedsTextBeyondSpacesAndTabs();
    void replyShows_data();
    void replyShows();
    void answerIsNeverMarkupAndOpensOnlyWebLinks();
    void inlineMarkdown_data();
    void inlineMarkdown();
    void copyAndClear();
    void doublePressSendsOneRequest_data();
    void doublePressSendsOneRequest();
    void askAIButtonOpensThePanelWithItsPrompt();
    void eachAskAIButtonAsksItsOwnQuestion();

private:
    std::unique_ptr<AIPanel> openPanel(qint64 pageServerID,
                                       const std::optional<QString> &seed = std::nullopt);
    void choose(AIPanel &panel, const QString &action);
    // Clicks Run and waits for the answer.
    bool run(AIPanel &panel);
    // Signs the app in and stores a page of "Ask AI" buttons, one a question, labelled "Ask 0"...
    // A page of "Ask AI" buttons, one per question, shown in a main view whose page opens the AI panel.
    std::unique_ptr<MainView> showButtonsPage(AppHarness &app, const QStringList &questions) const;

    FakeService m_fake;
    FakeService::Account m_account;
    std::unique_ptr<TestDevice> m_device;
    RecordingClipboard m_clipboard;
    RecordingUrlOpener m_opener;
    qint64 m_pageServerID = 0;
    int m_accounts = 0;
};

void TestAIPanel::initTestCase()
{
    QVERIFY(m_fake.start());
}

void TestAIPanel::init()
{
    m_fake.clearFaults();
    m_account = m_fake.createAccount(QStringLiteral("ai%1@example.com").arg(++m_accounts), "secret12",
                                     QStringLiteral("Ann"));
    m_device = deviceInWorkspace(m_fake, m_account);
    const FNPage page = m_device->addPage(m_account.workspaceId, QStringLiteral("Trip"));
    m_device->addBlock(page.localID, QStringLiteral("We leave at dawn. Bring water!"), 0);
    QVERIFY(m_device->sync());
    QVERIFY(m_device->queueBlockUpsert(page.localID));
    QVERIFY(m_device->sync());
    m_pageServerID = m_device->page(page.localID)->serverID;
    QVERIFY(m_pageServerID != 0);
    m_fake.clearRequests();
}

void TestAIPanel::cleanup()
{
    m_fake.clearFaults();
    m_device.reset();
}

std::unique_ptr<AIPanel> TestAIPanel::openPanel(qint64 pageServerID, const std::optional<QString> &seed)
{
    auto panel = std::make_unique<AIPanel>(
        m_device->client(), [pageServerID] { return pageServerID; }, seed,
        AIPanel::Services{&m_clipboard, &m_opener}, [] {});
    panel->resize(AIPanel::kWidth, 700);
    panel->show();
    return panel;
}

void TestAIPanel::choose(AIPanel &panel, const QString &action)
{
    for (QToolButton *chip : panel.chips()) {
        if (chip->property("actionId").toString() == action)
            chip->click();
    }
}

bool TestAIPanel::run(AIPanel &panel)
{
    if (!panel.runButton()->isEnabled())
        return false;
    panel.runButton()->click();
    // One request at a time: Run waits for the answer.
    if (panel.runButton()->isEnabled() || panel.runButton()->text() != QStringLiteral("Thinking..."))
        return false;
    return QTest::qWaitFor([&] { return !panel.model().isLoading(); }, 5000);
}

void TestAIPanel::requestCarriesTheActionsKeys_data()
{
    QTest::addColumn<QString>("typedUnder"); // the action the text is typed under, or none
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("action");
    QTest::addColumn<int>("language"); // index picked in the menu; -1 leaves it
    QTest::addColumn<bool>("pageOnService");
    QTest::addColumn<QByteArray>("body");

    // clang-format off
    QTest::newRow("ask, sent as typed") << "ask" << " When?\n" << "ask" << -1 << true
        << QByteArray(R"({"action":"ask","page_id":%P,"prompt":" When?\n"})");
    QTest::newRow("ask of line breaks") << "ask" << "\n\n" << "ask" << -1 << true
        << QByteArray(R"({"action":"ask","page_id":%P,"prompt":"\n\n"})");
    QTest::newRow("improve takes the text typed under ask") << "ask" << "teh plan" << "improve" << -1 << true
        << QByteArray(R"({"action":"improve","page_id":%P,"text":"teh plan"})");
    QTest::newRow("summarize leaves the typed text out") << "ask" << "Why?" << "summarize" << -1 << true
        << QByteArray(R"({"action":"summarize","page_id":%P})");
    QTest::newRow("continue") << "" << "" << "continue" << -1 << true
        << QByteArray(R"({"action":"continue","page_id":%P})");
    QTest::newRow("outline") << "" << "" << "outline" << -1 << true
        << QByteArray(R"({"action":"outline","page_id":%P})");
    QTest::newRow("translate, Spanish preset") << "ask" << "Why?" << "translate" << -1 << true
        << QByteArray(R"({"action":"translate","page_id":%P,"target_lang":"Spanish"})");
    QTest::newRow("translate to the last language") << "" << "" << "translate" << 14 << true
        << QByteArray(R"({"action":"translate","page_id":%P,"target_lang":"English"})");
    QTest::newRow("page not on the service") << "ask" << "Why?" << "ask" << -1 << false
        << QByteArray(R"({"action":"ask","prompt":"Why?"})");
    // clang-format on
}

void TestAIPanel::requestCarriesTheActionsKeys()
{
    QFETCH(QString, typedUnder);
    QFETCH(QString, typed);
    QFETCH(QString, action);
    QFETCH(int, language);
    QFETCH(bool, pageOnService);
    QFETCH(QByteArray, body);

    auto panel = openPanel(pageOnService ? m_pageServerID : 0);
    QCOMPARE(panel->languagePicker()->count(), 15);
    if (!typedUnder.isEmpty()) {
        choose(*panel, typedUnder);
        panel->promptEditor()->setPlainText(typed);
    }
    choose(*panel, action);
    if (language >= 0)
        panel->languagePicker()->setCurrentIndex(language);
    QVERIFY(run(*panel));

    const QList<HttpRequest> sent = m_fake.requestsTo(kAIPath);
    QCOMPARE(sent.size(), 1);
    QCOMPARE(sent.first().body, body.replace("%P", QByteArray::number(m_pageServerID)));
    // The fake answers every one of them that has a page to read or text to work on.
    if (pageOnService) {
        QVERIFY2(!panel->model().error(), qPrintable(panel->model().error().value_or(QString())));
        QVERIFY(panel->resultLabel()->isVisible());
    }
}

void TestAIPanel::runNeedsTextBeyondSpacesAndTabs_data()
{
    QTest::addColumn<QString>("action");
    QTest::addColumn<QString>("prompt");
    QTest::addColumn<bool>("enabled");

    // clang-format off
    QTest::newRow("ask, empty") << "ask" << "" << false;
    QTest::newRow("ask, spaces and tabs") << "ask" << " \t \t" << false;
    QTest::newRow("ask, a line break") << "ask" << "\n" << true;
    QTest::newRow("ask, spaces round a line break") << "ask" << " \n\t" << true;
    QTest::newRow("improve, tabs") << "improve" << "\t\t" << false;
    QTest::newRow("improve, line breaks") << "improve" << "\n\n" << true;
    QTest::newRow("summarize, empty") << "summarize" << "" << true;
    QTest::newRow("translate, spaces") << "translate" << "  " << true;
    // clang-format on
}

void TestAIPanel::runNeedsTextBeyondSpacesAndTabs()
{
    QFETCH(QString, action);
    QFETCH(QString, prompt);
    QFETCH(bool, enabled);

    auto panel = openPanel(m_pageServerID);
    panel->promptEditor()->setPlainText(prompt);
    choose(*panel, action);
    QCOMPARE(panel->promptEditor()->isVisible(), action == "ask" || action == "improve");
    QCOMPARE(panel->runButton()->isEnabled(), enabled);
    // Signed out, Run sends nothing and changes nothing.
    m_device->setToken(std::nullopt);
    panel->runButton()->click();
    QVERIFY(!panel->model().isLoading());
    QTest::qWait(20);
    QVERIFY(!panel->errorLabel()->isVisible());
    QVERIFY(m_fake.requestsTo(kAIPath).isEmpty());
}

void TestAIPanel::replyShows_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QString>("result");
    QTest::addColumn<QString>("error");
    QTest::addColumn<QString>("badge"); // empty: hidden

    // clang-format off
    QTest::newRow("none left") << 200 << QByteArray(R"({"text":"Hi","remaining_today":0})")
                               << "Hi" << "" << "0 left today";
    QTest::newRow("no count hides the badge") << 200 << QByteArray(R"({"text":"Hi"})") << "Hi" << "" << "";
    QTest::newRow("text and error both show")
        << 200 << QByteArray(R"({"text":"Partial","error":"Cut short","remaining_today":4})")
        << "Partial" << "Cut short" << "4 left today";
    QTest::newRow("refusal in the server's words")
        << 403 << QByteArray(R"({"error":"AI is off here"})") << "" << "AI is off here" << "";
    QTest::newRow("refusal without words") << 500 << QByteArray("<html>oops</html>")
                                           << "" << "AI request failed" << "";
    QTest::newRow("unreadable answer") << 200 << QByteArray(R"({"text":5})")
                                       << "" << "Couldn't read the server's response." << "";
    // clang-format on
}

void TestAIPanel::replyShows()
{
    QFETCH(int, status);
    QFETCH(QByteArray, reply);
    QFETCH(QString, result);
    QFETCH(QString, error);
    QFETCH(QString, badge);

    m_fake.setFault(kAIPath, FakeService::Fault::http(status, reply));
    auto panel = openPanel(m_pageServerID);
    choose(*panel, QStringLiteral("summarize"));
    QVERIFY(run(*panel));

    QCOMPARE(panel->model().result(), result);
    QCOMPARE(panel->resultLabel()->isVisible(), !result.isEmpty());
    if (!result.isEmpty())
        QCOMPARE(shown(*panel->resultLabel()).text, result);
    QCOMPARE(panel->errorLabel()->isVisible(), !error.isEmpty());
    QCOMPARE(panel->errorLabel()->text(), error);
    QCOMPARE(panel->badge()->isVisible(), !badge.isEmpty());
    if (!badge.isEmpty())
        QCOMPARE(panel->badge()->text(), badge);
    QVERIFY(panel->runButton()->isEnabled());
}

void TestAIPanel::answerIsNeverMarkupAndOpensOnlyWebLinks()
{
    const QString tracker = m_fake.origin() + QStringLiteral("/track.png");
    const QString answer = QStringLiteral("<b>x</b> <img src=\"%1\"> [a](javascript:alert(1)) "
                                          "[b](file:///etc/passwd) **fine** [site](https://example.com/x)")
                               .arg(tracker);
    JSONObject reply{{QStringLiteral("text"), answer}};
    m_fake.setFault(kAIPath, FakeService::Fault::http(200, BlockContent::encode(reply)->toUtf8()));
    auto panel = openPanel(m_pageServerID);
    choose(*panel, QStringLiteral("summarize"));
    QVERIFY(run(*panel));

    const Shown seen = shown(*panel->resultLabel());
    QVERIFY2(seen.text.startsWith(QStringLiteral("<b>x</b> <img src=\"") + tracker), qPrintable(seen.text));
    QVERIFY(seen.text.contains(QStringLiteral("[a](javascript:alert(1))")));
    QVERIFY(seen.text.contains(QStringLiteral("[b](file:///etc/passwd)")));
    QVERIFY(seen.text.contains(QStringLiteral(" fine site")));
    QCOMPARE(seen.links, QStringList{QStringLiteral("https://example.com/x")});

    // Only the web link opens, once; the script's address is refused even when handed over.
    Q_EMIT panel->resultLabel()->linkActivated(QStringLiteral("javascript:alert(1)"));
    Q_EMIT panel->resultLabel()->linkActivated(seen.links.first());
    QCOMPARE(m_opener.opened(), QList<QUrl>{QUrl(QStringLiteral("https://example.com/x"))});
    QTest::qWait(50);
    QVERIFY(m_fake.requestsTo(QStringLiteral("/track.png")).isEmpty());
}

void TestAIPanel::inlineMarkdown_data()
{
    QTest::addColumn<QString>("markdown");
    QTest::addColumn<QString>("html"); // inside the wrapper

    // clang-format off
    QTest::newRow("strong and emphasis") << "**a** *b* _c_ __d__" << "<b>a</b> <i>b</i> <i>c</i> <b>d</b>";
    QTest::newRow("nested") << "**a *b* c**" << "<b>a <i>b</i> c</b>";
    QTest::newRow("markers inside code stay") << "`**a** <x>`" << "<code>**a** &lt;x&gt;</code>";
    QTest::newRow("loose stars and snake_case stay") << "2 * 3 * a_b_c" << "2 * 3 * a_b_c";
    QTest::newRow("link") << "[**go**](https://x.org/a?b=1&c=2)"
                          << "<a href=\"https://x.org/a?b=1&amp;c=2\"><b>go</b></a>";
    QTest::newRow("quote in an address stays text") << "[go](https://x.org/\"a)" << "[go](https://x.org/&quot;a)";
    QTest::newRow("data address stays text") << "[x](data:text/html,hi)" << "[x](data:text/html,hi)";
    QTest::newRow("lines as written") << "# T\n- a\n  - b" << "# T<br>- a<br>  - b";
    // clang-format on
}

void TestAIPanel::inlineMarkdown()
{
    QFETCH(QString, markdown);
    QFETCH(QString, html);
    QCOMPARE(InlineMarkdown::toHtml(markdown),
             QStringLiteral("<div style=\"white-space: pre-wrap;\">") + html + QStringLiteral("</div>"));
}

void TestAIPanel::copyAndClear()
{
    m_fake.setFault(kAIPath,
                    FakeService::Fault::http(200, R"({"text":"- one\n- two","error":"Short page"})"));
    auto panel = openPanel(m_pageServerID);
    choose(*panel, QStringLiteral("summarize"));
    QVERIFY(run(*panel));
    panel->copyButton()->click();
    QCOMPARE(m_clipboard.texts(), QStringList{QStringLiteral("- one\n- two")});
    panel->clearButton()->click();
    QVERIFY(!panel->resultLabel()->isVisible());
    QCOMPARE(panel->errorLabel()->text(), QStringLiteral("Short page"));
    QVERIFY(panel->errorLabel()->isVisible());

    // A new run clears the error first: a failed one shows only its own.
    m_fake.setFault(kAIPath, FakeService::Fault::http(200, R"({"text":"Again"})"));
    QVERIFY(run(*panel));
    QVERIFY(!panel->errorLabel()->isVisible());
    QCOMPARE(panel->model().result(), QStringLiteral("Again"));
}

void TestAIPanel::doublePressSendsOneRequest_data()
{
    QTest::addColumn<bool>("answerHeld"); // the first answer is out when the second press comes
    QTest::newRow("a second click while the answer is on its way") << true;
    QTest::newRow("a double-click answered before its second press") << false;
}

void TestAIPanel::doublePressSendsOneRequest()
{
    QFETCH(bool, answerHeld);
    auto panel = openPanel(m_pageServerID);
    choose(*panel, QStringLiteral("summarize"));
    if (answerHeld)
        m_fake.setFault(kAIPath, once(FakeService::Fault::held()));
    QPushButton *run = panel->runButton();
    QTest::mouseClick(run, Qt::LeftButton);
    if (answerHeld) {
        QTRY_COMPARE(m_fake.requestsTo(kAIPath).size(), 1);
        QTest::mouseClick(run, Qt::LeftButton);
        m_fake.releaseHeldAnswers();
    } else {
        QTRY_VERIFY(!panel->model().isLoading());
        // The double-click's second press and its release.
        QTest::mouseDClick(run, Qt::LeftButton);
        QTest::mouseRelease(run, Qt::LeftButton);
    }
    QTRY_VERIFY(!panel->model().isLoading() && !panel->model().result().isEmpty());
    // Anything a second press sent has reached the fake once this answer is back.
    FakeHttpClient(m_fake).get(QStringLiteral("/api/workspaces.php"), m_account.token);
    QCOMPARE(m_fake.requestsTo(kAIPath).size(), 1);
    QCOMPARE(m_fake.state().aiRequestsUsed.value(m_account.userId), 1);
}

std::unique_ptr<MainView> TestAIPanel::showButtonsPage(AppHarness &app, const QStringList &questions) const
{
    app.session.signIn(m_account.token, AuthUser{m_account.userId, QStringLiteral("Ann"), QString()});
    FNPage page;
    page.title = QStringLiteral("Buttons");
    page.serverID = m_pageServerID;
    app.store.upsertPage(page);
    for (qsizetype i = 0; i < questions.size(); ++i) {
        FNBlock button;
        button.pageLocalID = page.localID;
        button.pageServerID = m_pageServerID;
        button.type = QStringLiteral("button");
        button.position = i;
        button.contentJSON = QStringLiteral(R"({"label":"Ask %1","action":"ai_prompt","target":"%2"})")
                                 .arg(i)
                                 .arg(questions[i]);
        app.store.upsertBlock(button);
    }
    MainView::Parts parts;
    parts.panel = makePagePanel;
    auto view = std::make_unique<MainView>(app.context(), std::move(parts));
    view->resize(1200, 700);
    view->show();
    view->setSelectedPage(page.localID);
    return view;
}

void TestAIPanel::askAIButtonOpensThePanelWithItsPrompt()
{
    AppDevice device(m_fake.origin());
    AppHarness app(device);
    const std::unique_ptr<MainView> shown = showButtonsPage(app, {QStringLiteral("When do we leave?")});
    MainView &view = *shown;
    ButtonBlockView *buttonView = nullptr;
    QTRY_VERIFY((buttonView = view.findChild<ButtonBlockView *>()));
    QTRY_VERIFY(buttonView->actionButton()->isVisible());
    QVERIFY(!view.panel(MainView::PagePanel::ai));

    QTest::mouseClick(buttonView->actionButton(), Qt::LeftButton);
    auto *panel = qobject_cast<AIPanel *>(view.panel(MainView::PagePanel::ai));
    QVERIFY(panel);
    QTRY_VERIFY(panel->isVisible());
    QCOMPARE(panel->model().action(), QStringLiteral("ask"));
    QCOMPARE(panel->promptEditor()->toPlainText(), QStringLiteral("When do we leave?"));
    QVERIFY(panel->runButton()->isEnabled());
    QVERIFY(run(*panel));
    QCOMPARE(panel->model().result(), QStringLiteral("From the page: We leave at dawn."));

    // Closed and opened again from the toolbar, the panel asks the same question afresh.
    panel->closeButton()->click();
    QVERIFY(!view.panel(MainView::PagePanel::ai));
    PageViewModel *model = view.pageModel();
    QVERIFY(model);
    model->setShowAI(true);
    panel = qobject_cast<AIPanel *>(view.panel(MainView::PagePanel::ai));
    QVERIFY(panel);
    QCOMPARE(panel->promptEditor()->toPlainText(), QStringLiteral("When do we leave?"));
    QVERIFY(panel->model().result().isEmpty());
}

void TestAIPanel::eachAskAIButtonAsksItsOwnQuestion()
{
    AppDevice device(m_fake.origin());
    AppHarness app(device);
    const QStringList questions = {QStringLiteral("When do we leave?"), QStringLiteral("Who drives?")};
    const std::unique_ptr<MainView> shown = showButtonsPage(app, questions);
    MainView &view = *shown;
    QList<ButtonBlockView *> buttons;
    QTRY_COMPARE((buttons = view.findChildren<ButtonBlockView *>()).size(), 2);
    std::sort(buttons.begin(), buttons.end(), [](ButtonBlockView *a, ButtonBlockView *b) {
        return a->actionButton()->text() < b->actionButton()->text();
    });
    QTRY_VERIFY(buttons[0]->actionButton()->isVisible() && buttons[1]->actionButton()->isVisible());

    QTest::mouseClick(buttons[0]->actionButton(), Qt::LeftButton);
    auto *panel = qobject_cast<AIPanel *>(view.panel(MainView::PagePanel::ai));
    QVERIFY(panel);
    QCOMPARE(panel->promptEditor()->toPlainText(), questions[0]);
    QVERIFY(run(*panel));
    // Another action chosen meanwhile: the next button still asks.
    panel->chips().at(1)->click();
    QVERIFY(panel->model().action() != QLatin1String(AIPanelModel::kAsk));

    // The panel is still open when the other button is pressed.
    QTest::mouseClick(buttons[1]->actionButton(), Qt::LeftButton);
    QCOMPARE(view.panel(MainView::PagePanel::ai), panel);
    QCOMPARE(panel->model().action(), QLatin1String(AIPanelModel::kAsk));
    QCOMPARE(panel->promptEditor()->toPlainText(), questions[1]);
    QVERIFY(panel->model().result().isEmpty());
    QVERIFY(run(*panel));
    QCOMPARE(m_fake.requestsTo(kAIPath).size(), 2);
    QVERIFY(m_fake.requestsTo(kAIPath).last().body.contains(questions[1].toUtf8()));
}

QTEST_MAIN(TestAIPanel)
#include "tst_ai_panel.moc"
