#include "app/main_view.h"
#include "app/page_panels.h"
#include "collab/comments_panel.h"
#include "collab/comments_panel_model.h"
#include "collab/inline_comment_form.h"
#include "collab/suggestions_panel.h"
#include "collab/suggestions_panel_model.h"
#include "editor/block_row.h"
#include "editor/block_row_model.h"
#include "editor/comment_button.h"
#include "editor/page_view.h"
#include "editor/page_view_model.h"
#include "fake-service/fake_service.h"
#include "support/collab_steps.h"
#include "support/app_harness.h"
#include "support/fake_http_client.h"
#include "support/library_steps.h"
#include "support/task_outcome.h"
#include "support/test_device.h"

#include <QApplication>
#include <QLabel>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QSplitter>
#include <QTest>
#include <QToolButton>

#include <memory>

namespace {

const QString kComments = QStringLiteral("/api/comments.php");
const QString kSuggestions = QStringLiteral("/api/suggestions.php");

} // namespace

// The comments and suggestions panels where users meet them: beside the page editor in the main
// window, with requests that outlive the page they were made on.
class TestPagePanels : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void panelsOpenSideBySideAndCloseWithTheirToggle();
    void windowGetsItsWidthBackWhenThePanelsClose_data();
    void windowGetsItsWidthBackWhenThePanelsClose();
    void postEnablesWhenThePageReachesTheService();
    void inlineCommentShowsInTheOpenPanel();
    void replyOnOnePageNeverLandsInTheNext();
    void decisionOnOnePageLeavesTheNextPanelAlone();
    void acceptedSuggestionShowsInTheOpenPage();

private:
    // The local id, on the window's device, of the page with this server id.
    QString localPage(qint64 serverID) const;
    PageView *open(qint64 pageServerID);
    template <typename Panel>
    Panel *showPanel(MainView::PagePanel kind);
    // Bob, who holds the suggest share on the page, proposes a title.
    void bobSuggestsTitle(qint64 pageServerID, const QString &title);
    // The fake answers the next such request only after a while.
    void holdNextReply(const QByteArray &method, const QString &path);
    // Waits until the held reply has come back to the window's client.
    void waitForHeldReply();

    FakeService m_fake;
    std::unique_ptr<FakeHttpClient> m_http;
    FakeService::Account m_ann;
    FakeService::Account m_bob;
    std::unique_ptr<AppDevice> m_device;
    std::unique_ptr<AppHarness> m_app;
    std::unique_ptr<MainView> m_view;
    qint64 m_pageA = 0;
    qint64 m_pageB = 0;
    qint64 m_blockA = 0;
    int m_accounts = 0;
    bool m_answered = false;
};

void TestPagePanels::initTestCase()
{
    QVERIFY(m_fake.start());
    m_http = std::make_unique<FakeHttpClient>(m_fake);
}

void TestPagePanels::init()
{
    m_fake.clearFaults();
    ++m_accounts;
    const QString bobEmail = QStringLiteral("bob%1@example.com").arg(m_accounts);
    m_ann = m_fake.createAccount(QStringLiteral("ann%1@example.com").arg(m_accounts), "secret12",
                                 QStringLiteral("Ann"));
    m_bob = m_fake.createAccount(bobEmail, "secret12", QStringLiteral("Bob"));

    // Two synced pages, made on another of Ann's devices.
    {
        auto other = deviceInWorkspace(m_fake, m_ann);
        const FNPage a = other->addPage(m_ann.workspaceId, QStringLiteral("Alpha"));
        const FNPage b = other->addPage(m_ann.workspaceId, QStringLiteral("Beta"));
        QVERIFY(other->sync());
        const FNBlock block = other->addBlock(a.localID, QStringLiteral("alpha text"), 0);
        QVERIFY(other->queueBlockUpsert(a.localID));
        QVERIFY(other->sync());
        m_pageA = other->page(a.localID)->serverID;
        m_pageB = other->page(b.localID)->serverID;
        m_blockA = other->block(block.localID)->serverID;
    }
    for (const qint64 page : {m_pageA, m_pageB}) {
        const QByteArray body = QStringLiteral(R"({"page_id":%1,"email":"%2","role":"suggest"})")
                                    .arg(page)
                                    .arg(bobEmail)
                                    .toUtf8();
        QCOMPARE(m_http->post(QStringLiteral("/api/share.php"), body, m_ann.token).status, 200);
    }

    m_device = std::make_unique<AppDevice>(m_fake.origin());
    m_app = std::make_unique<AppHarness>(*m_device);
    m_app->session.signIn(m_ann.token, AuthUser{m_ann.userId, QStringLiteral("Ann"), QString()});
    FNWorkspace workspace;
    workspace.serverID = m_ann.workspaceId;
    m_app->store.setWorkspaces({workspace});
    MainView::Parts parts;
    parts.panel = makePagePanel;
    m_view = std::make_unique<MainView>(m_app->context(), std::move(parts));
    m_view->resize(1300, 750);
    QSignalSpy done(m_view.get(), &MainView::firstAppearanceDone);
    m_view->show();
    QApplication::setActiveWindow(m_view.get());
    QVERIFY(QTest::qWaitForWindowActive(m_view.get()));
    QVERIFY(done.wait(5000));
    QVERIFY(!localPage(m_pageA).isEmpty() && !localPage(m_pageB).isEmpty());
}

void TestPagePanels::cleanup()
{
    m_view.reset();
    m_fake.clearFaults();
    QTRY_VERIFY(!m_app->engine.isSyncing());
    m_app->engine.stopLoop();
    m_app.reset();
    m_device.reset();
}

QString TestPagePanels::localPage(qint64 serverID) const
{
    for (const FNPage &page : m_app->store.state().pages) {
        if (page.serverID == serverID)
            return page.localID;
    }
    return QString();
}

PageView *TestPagePanels::open(qint64 pageServerID)
{
    m_view->openPage(localPage(pageServerID));
    return qobject_cast<PageView *>(m_view->detail());
}

template <typename Panel>
Panel *TestPagePanels::showPanel(MainView::PagePanel kind)
{
    auto *page = qobject_cast<PageView *>(m_view->detail());
    if (!page)
        return nullptr;
    QToolButton *toggle =
        kind == MainView::PagePanel::comments ? page->commentsButton() : page->suggestionsButton();
    QTest::mouseClick(toggle, Qt::LeftButton);
    return qobject_cast<Panel *>(m_view->panel(kind));
}

void TestPagePanels::bobSuggestsTitle(qint64 pageServerID, const QString &title)
{
    const QByteArray body =
        QStringLiteral(R"({"page_id":%1,"title":"%2"})").arg(pageServerID).arg(title).toUtf8();
    QCOMPARE(m_http->patch(QStringLiteral("/api/pages.php"), body, m_bob.token).status, 200);
}

void TestPagePanels::holdNextReply(const QByteArray &method, const QString &path)
{
    m_answered = false;
    auto *watch = new QObject(this);
    connect(&m_fake, &FakeService::requestReceived, watch, [this, method, path](const HttpRequest &r) {
        if (r.method == method && r.path() == path.toUtf8())
            m_fake.setFault(path, once(FakeService::Fault::delay(600)));
    });
    // Only the held request is not a GET at that path.
    connect(&m_app->client.transport().serviceTransport(), &CurlTransport::finished, watch,
            [this, watch, path](QNetworkReply *reply) {
                if (reply->url().path() != path || reply->operation() == QNetworkAccessManager::GetOperation)
                    return;
                m_answered = true;
                watch->deleteLater();
            });
}

void TestPagePanels::waitForHeldReply()
{
    QTRY_VERIFY(m_answered);
}

void TestPagePanels::panelsOpenSideBySideAndCloseWithTheirToggle()
{
    PageView *page = open(m_pageA);
    QVERIFY(page);
    auto *comments = showPanel<CommentsPanel>(MainView::PagePanel::comments);
    auto *suggestions = showPanel<SuggestionsPanel>(MainView::PagePanel::suggestions);
    QVERIFY(comments && suggestions);
    QVERIFY(comments->isVisible() && suggestions->isVisible());
    QVERIFY(page->suggestionsButton()->isChecked());
    // Beside the block list, in the kinds' order, each at its own width.
    auto *split = qobject_cast<QSplitter *>(page->parentWidget());
    QVERIFY(split);
    QCOMPARE(split->indexOf(page), 0);
    QCOMPARE(split->indexOf(comments), 1);
    QCOMPARE(split->indexOf(suggestions), 2);
    QCOMPARE(suggestions->width(), SuggestionsPanel::kWidth);
    QTRY_VERIFY(!suggestions->model().isLoading());
    QCOMPARE(suggestions->shownArea(), suggestions->emptyState());

    QPointer<SuggestionsPanel> gone(suggestions);
    QTest::mouseClick(page->suggestionsButton(), Qt::LeftButton);
    QVERIFY(gone.isNull());
    QVERIFY(m_view->panel(MainView::PagePanel::comments));
    QPointer<CommentsPanel> closed(comments);
    QTest::mouseClick(comments->closeButton(), Qt::LeftButton);
    QVERIFY(closed.isNull());
    QVERIFY(!page->commentsButton()->isChecked());
}

void TestPagePanels::windowGetsItsWidthBackWhenThePanelsClose_data()
{
    QTest::addColumn<bool>("byOpeningAnotherPage");
    QTest::newRow("closed with their toggles") << false;
    QTest::newRow("another page opened") << true;
}

void TestPagePanels::windowGetsItsWidthBackWhenThePanelsClose()
{
    QFETCH(bool, byOpeningAnotherPage);
    PageView *page = open(m_pageA);
    QVERIFY(page);
    // Too narrow for the editor and both panels: the window widens while they are open.
    m_view->resize(1000, 700);
    QTRY_COMPARE(m_view->width(), 1000);
    QVERIFY(showPanel<CommentsPanel>(MainView::PagePanel::comments));
    QVERIFY(showPanel<SuggestionsPanel>(MainView::PagePanel::suggestions));
    QTRY_VERIFY(m_view->width() > 1000);

    if (byOpeningAnotherPage) {
        open(m_pageB);
    } else {
        QTest::mouseClick(page->suggestionsButton(), Qt::LeftButton);
        QTest::mouseClick(page->commentsButton(), Qt::LeftButton);
    }
    QVERIFY(!m_view->panel(MainView::PagePanel::comments) &&
            !m_view->panel(MainView::PagePanel::suggestions));
    QTRY_COMPARE(m_view->width(), 1000);
    QCOMPARE(m_view->height(), 700);
}

void TestPagePanels::postEnablesWhenThePageReachesTheService()
{
    FNPage local;
    local.workspaceServerID = m_ann.workspaceId;
    local.title = QStringLiteral("Fresh");
    m_app->queuePageCreate(local);
    m_view->openPage(local.localID);
    auto *comments = showPanel<CommentsPanel>(MainView::PagePanel::comments);
    QVERIFY(comments);
    QTRY_VERIFY(!comments->model().isLoading());
    comments->composer()->setFocus();
    QTest::keyClicks(comments->composer(), QStringLiteral("first"));
    QVERIFY(!comments->postButton()->isEnabled());

    // The page reaches the service while the text waits: "Post" comes on by itself.
    m_app->engine.syncNow();
    QTRY_VERIFY(m_app->storedPage(local.localID).serverID != 0);
    QTRY_VERIFY(comments->postButton()->isEnabled());
    QTest::mouseClick(comments->postButton(), Qt::LeftButton);
    QTRY_COMPARE(comments->cards().size(), 1);
    QCOMPARE(m_fake.state().comments.rbegin()->second.pageId, m_app->storedPage(local.localID).serverID);
}

void TestPagePanels::inlineCommentShowsInTheOpenPanel()
{
    PageView *page = open(m_pageA);
    QVERIFY(page);
    auto *comments = showPanel<CommentsPanel>(MainView::PagePanel::comments);
    QVERIFY(comments);
    QTRY_VERIFY(!comments->model().isLoading());
    QVERIFY(comments->cards().isEmpty());
    QString blockLocalID;
    for (const FNBlock &block : m_app->store.state().blocks) {
        if (block.serverID == m_blockA)
            blockLocalID = block.localID;
    }
    QTRY_VERIFY(page->row(blockLocalID));
    BlockRow *row = page->row(blockLocalID);

    QTest::mouseClick(row->commentButton(), Qt::LeftButton);
    InlineCommentForm *form = nullptr;
    QTRY_VERIFY((form = journey::openCommentForm()));
    QTRY_VERIFY(form->field()->hasFocus());
    QTest::keyClicks(form->field(), QStringLiteral("on the block"));
    QTest::mouseClick(form->postButton(), Qt::LeftButton);
    QTRY_COMPARE(row->commentButton()->count(), 1);

    // In the panel already open beside it, without a reload.
    QTRY_COMPARE(comments->cards().size(), 1);
    QCOMPARE(comments->cards().first()->findChild<QLabel *>(QStringLiteral("body"))->text(),
             QStringLiteral("on the block"));
    QCOMPARE(comments->cards().first()->findChild<QLabel *>(QStringLiteral("context"))->text(),
             QStringLiteral("On a block"));
}

void TestPagePanels::replyOnOnePageNeverLandsInTheNext()
{
    open(m_pageA);
    auto *panelA = showPanel<CommentsPanel>(MainView::PagePanel::comments);
    QVERIFY(panelA);
    QTRY_VERIFY(!panelA->model().isLoading());
    QPointer<CommentsPanel> watchA(panelA);

    holdNextReply("POST", kComments);
    panelA->composer()->setFocus();
    QTest::keyClicks(panelA->composer(), QStringLiteral("for Alpha"));
    QTest::mouseClick(panelA->postButton(), Qt::LeftButton);
    QVERIFY(panelA->model().isPosting());

    // The user moves on while the post is out, and opens the next page's comments.
    open(m_pageB);
    QVERIFY(watchA.isNull());
    auto *panelB = showPanel<CommentsPanel>(MainView::PagePanel::comments);
    QVERIFY(panelB);
    QTRY_VERIFY(!panelB->model().isLoading());
    waitForHeldReply();
    QTest::qWait(50);
    QVERIFY(panelB->cards().isEmpty());
    QVERIFY(panelB->model().comments().empty());
    QVERIFY(!panelB->errorLabel()->isVisible());
    QCOMPARE(panelB->composer()->toPlainText(), QString());

    // The comment is kept, on its own page.
    const auto &stored = m_fake.state().comments.rbegin()->second;
    QCOMPARE(stored.body, QStringLiteral("for Alpha"));
    QCOMPARE(stored.pageId, m_pageA);
    open(m_pageA);
    auto *again = showPanel<CommentsPanel>(MainView::PagePanel::comments);
    QVERIFY(again);
    QTRY_COMPARE(again->cards().size(), 1);
}

void TestPagePanels::decisionOnOnePageLeavesTheNextPanelAlone()
{
    bobSuggestsTitle(m_pageA, QStringLiteral("Alpha, renamed"));
    bobSuggestsTitle(m_pageB, QStringLiteral("Beta, renamed"));
    open(m_pageA);
    auto *panelA = showPanel<SuggestionsPanel>(MainView::PagePanel::suggestions);
    QVERIFY(panelA);
    QTRY_COMPARE(panelA->cards().size(), 1);

    holdNextReply("PATCH", kSuggestions);
    QTest::mouseClick(panelA->cards()[0]->findChild<QPushButton *>(QStringLiteral("accept")), Qt::LeftButton);
    open(m_pageB);
    auto *panelB = showPanel<SuggestionsPanel>(MainView::PagePanel::suggestions);
    QVERIFY(panelB);
    QTRY_COMPARE(panelB->cards().size(), 1);
    waitForHeldReply();
    // Page A's accepted change still comes back through the sync the decision started.
    QTRY_COMPARE(m_app->store.page(localPage(m_pageA))->title, QStringLiteral("Alpha, renamed"));
    QCOMPARE(panelB->cards().size(), 1);
    QVERIFY(!panelB->model().actingID());
    QVERIFY(!panelB->model().error());
    QCOMPARE(panelB->shownArea(), panelB->list());
}

void TestPagePanels::acceptedSuggestionShowsInTheOpenPage()
{
    const QByteArray edit =
        QStringLiteral(R"({"page_id":%1,"blocks":[{"id":%2,"client_id":"bob","type":"text",)"
                       R"("content":{"text":"alpha, better"},"position":0}]})")
            .arg(m_pageA)
            .arg(m_blockA)
            .toUtf8();
    QCOMPARE(m_http->post(QStringLiteral("/api/blocks.php"), edit, m_bob.token).status, 200);
    QString localBlock;
    for (const FNBlock &block : m_app->store.state().blocks) {
        if (block.serverID == m_blockA)
            localBlock = block.localID;
    }
    PageView *page = open(m_pageA);
    QVERIFY(page);
    QTRY_VERIFY(page->row(localBlock));
    auto *panel = showPanel<SuggestionsPanel>(MainView::PagePanel::suggestions);
    QVERIFY(panel);
    QTRY_COMPARE(panel->cards().size(), 1);
    QTest::mouseClick(panel->cards()[0]->findChild<QPushButton *>(QStringLiteral("accept")), Qt::LeftButton);
    QTRY_VERIFY(panel->cards().isEmpty());
    BlockRow *row = page->row(localBlock);
    QVERIFY(row);
    QTRY_COMPARE(row->model().text(), QStringLiteral("alpha, better"));
}

QTEST_MAIN(TestPagePanels)
#include "tst_page_panels.moc"
