#include "app/app_window.h"
#include "app/main_view.h"
#include "app/page_panels.h"
#include "app/page_sheets.h"
#include "blocks/block_content.h"
#include "collab/publish_sheet.h"
#include "collab/share_sheet.h"
#include "collab/version_history_sheet.h"
#include "editor/block_row.h"
#include "editor/page_view.h"
#include "editor/rich_text_editor.h"
#include "fake-service/fake_service.h"
#include "platform/icon_theme.h"
#include "platform/preset_confirmer.h"
#include "support/app_harness.h"
#include "support/collab_steps.h"
#include "ui/clamped_text.h"
#include "ui/toast_overlay.h"

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>

#include <chrono>
#include <memory>

using namespace std::chrono_literals;

namespace {

constexpr int kWait = 10000;

// The texts of the labels a widget holds, shown or not.
QStringList labelTexts(const QWidget *widget)
{
    QStringList out;
    for (const QLabel *label : widget->findChildren<QLabel *>())
        out << label->text();
    return out;
}

} // namespace

// The page's share, publish and version history sheets, opened from the page's toolbar in the
// app's window and used against the fake service, as a user does.
class TestPageSheets : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void shareByButtonThenChangeTheRole();
    void publishWithAndWithoutAPassword();
    void restoreShowsTheOlderTextInTheOpenEditor_data();
    void restoreShowsTheOlderTextInTheOpenEditor();

private:
    MainView *mainView() const { return qobject_cast<MainView *>(m_window->rootView()->currentScreen()); }
    PageView *pageView() const
    {
        return mainView() ? qobject_cast<PageView *>(mainView()->detail()) : nullptr;
    }
    // A page made in the window and typed into; true once the service holds its text.
    bool openPageTypedInto(const QString &title, const QString &text);
    // The one text row of the open page.
    BlockRow *onlyRow() const;
    // Types into the row's text and waits until the service holds `expected` for it.
    bool typeAndSend(const QString &typed, const QString &expected);
    QStringList serviceTexts();
    bool upToDate() const { return m_app->store.state().outbox.empty() && !m_app->engine.isSyncing(); }
    template <class Sheet>
    Sheet *openSheet(QToolButton *button);

    FakeService m_fake;
    FakeService::Account m_account;
    int m_accounts = 0;
    std::unique_ptr<AppDevice> m_device;
    std::unique_ptr<AppHarness> m_app;
    std::unique_ptr<AppWindow> m_window;
    QString m_pageLocalID;
    qint64 m_pageID = 0;
    QDateTime m_now; // the engine's clock, where a test holds it
};

void TestPageSheets::initTestCase()
{
    IconTheme::installFallback(); // as main() does
    QVERIFY(m_fake.start());
}

void TestPageSheets::init()
{
    m_fake.clearFaults();
    const QString email = QStringLiteral("sheets%1@example.com").arg(++m_accounts);
    m_account = m_fake.createAccount(email, QStringLiteral("secret12"), QStringLiteral("Sheila"));
    m_device = std::make_unique<AppDevice>(m_fake.origin());
    m_app = std::make_unique<AppHarness>(*m_device);
    m_app->engine.setTickInterval(100ms);
    m_app->session.signIn(m_account.token, AuthUser{m_account.userId, QStringLiteral("Sheila"), email});
    MainView::Parts parts; // as main() plugs them in
    parts.panel = makePagePanel;
    parts.sheet = makePageSheet;
    m_window = std::make_unique<AppWindow>(m_app->context(),
                                           [parts](const AppContext &c) { return new MainView(c, parts); });
    m_window->resize(1400, 900);
    m_window->show();
    QApplication::setActiveWindow(m_window.get());
    QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
    QTRY_VERIFY_WITH_TIMEOUT(mainView(), kWait);
}

void TestPageSheets::cleanup()
{
    m_window.reset();
    QTRY_VERIFY(!m_app->engine.isSyncing());
    m_app->engine.stopLoop();
    m_app.reset();
    m_device.reset();
}

bool TestPageSheets::openPageTypedInto(const QString &title, const QString &text)
{
    FNWorkspace workspace;
    workspace.serverID = m_account.workspaceId;
    m_app->store.setWorkspaces({workspace});
    FNPage page;
    page.title = title;
    page.workspaceServerID = m_account.workspaceId;
    m_app->queuePageCreate(page);
    m_pageLocalID = page.localID;
    mainView()->openPage(page.localID);
    if (!QTest::qWaitFor([&] { return m_app->storedPage(page.localID).serverID != 0 && onlyRow(); }, kWait))
        return false;
    m_pageID = m_app->storedPage(page.localID).serverID;
    return typeAndSend(text, text);
}

BlockRow *TestPageSheets::onlyRow() const
{
    PageView *page = pageView();
    if (!page)
        return nullptr;
    const auto rows = page->topLevelList()->rows();
    return rows.size() == 1 && rows.front()->richEditor() ? rows.front() : nullptr;
}

bool TestPageSheets::typeAndSend(const QString &typed, const QString &expected)
{
    BlockRow *row = onlyRow();
    if (!row)
        return false;
    RichTextEditor *editor = row->richEditor();
    QTest::mouseClick(editor->viewport(), Qt::LeftButton, {}, QPoint(editor->viewport()->width() - 4, 6));
    if (!QTest::qWaitFor([&] { return editor->hasFocus(); }, kWait))
        return false;
    editor->moveCursor(QTextCursor::End);
    QTest::keyClicks(editor, typed);
    return QTest::qWaitFor([&] { return serviceTexts() == QStringList{expected} && upToDate(); }, kWait);
}

QStringList TestPageSheets::serviceTexts()
{
    QStringList out;
    for (const auto &[id, block] : m_fake.state().blocks) {
        if (block.pageId == m_pageID)
            out << BlockContent::readString(block.content, QStringLiteral("text"));
    }
    return out;
}

template <class Sheet>
Sheet *TestPageSheets::openSheet(QToolButton *button)
{
    return journey::openSheetBy<Sheet>(button, mainView(), kWait);
}

void TestPageSheets::shareByButtonThenChangeTheRole()
{
    const QString bobEmail = QStringLiteral("bob%1@example.com").arg(m_accounts);
    const auto bob = m_fake.createAccount(bobEmail, QStringLiteral("secret12"), QStringLiteral("Bob"));
    QVERIFY(openPageTypedInto(QStringLiteral("Plans"), QStringLiteral("Meet at noon")));
    auto *sheet = openSheet<ShareSheet>(pageView()->shareButton());
    QVERIFY(sheet);
    QCOMPARE(sheet->windowTitle(), QStringLiteral("Share \"Plans\""));
    QTRY_VERIFY(sheet->emailField()->hasFocus());

    // Return in the address field sends nothing; the button does.
    QTest::keyClicks(sheet->emailField(), bobEmail);
    QTest::keyClick(sheet->emailField(), Qt::Key_Return);
    QTest::qWait(200);
    for (const auto &[id, share] : m_fake.state().shares)
        QVERIFY(share.pageId != m_pageID);
    QCOMPARE(sheet->emailField()->text(), bobEmail);
    QTest::mouseClick(sheet->sendButton(), Qt::LeftButton);
    const auto shareOf = [&]() -> const FakeServiceState::Share * {
        for (const auto &[id, share] : m_fake.state().shares) {
            if (share.pageId == m_pageID && share.userId == bob.userId)
                return &share;
        }
        return nullptr;
    };
    QTRY_VERIFY_WITH_TIMEOUT(shareOf(), kWait);
    QCOMPARE(shareOf()->role, QStringLiteral("edit"));
    QTRY_VERIFY(labelTexts(sheet->peopleList()).contains(bobEmail));
    QVERIFY(labelTexts(sheet->peopleList()).contains(QStringLiteral("Can edit")));
    QVERIFY(labelTexts(sheet).contains(QStringLiteral("Shared.")));
    QVERIFY(sheet->emailField()->text().isEmpty());
    QCOMPARE(m_app->store.pageStatus(m_pageID).sharedCount, 1);

    // Sharing again with another role changes the person's role; they are listed once.
    sheet->roleMenu()->setCurrentIndex(sheet->roleMenu()->findData(QStringLiteral("comment")));
    QTest::keyClicks(sheet->emailField(), bobEmail);
    QTest::mouseClick(sheet->sendButton(), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(shareOf()->role, QStringLiteral("comment"), kWait);
    QTRY_VERIFY(labelTexts(sheet->peopleList()).contains(QStringLiteral("Comment only")));
    QCOMPARE(labelTexts(sheet->peopleList()).count(bobEmail), 1);
    QCOMPARE(m_app->store.pageStatus(m_pageID).sharedCount, 1);

    // An address nobody signed up with waits as an invite.
    const QString carol = QStringLiteral("carol%1@example.com").arg(m_accounts);
    QTest::keyClicks(sheet->emailField(), carol);
    QTest::mouseClick(sheet->sendButton(), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(labelTexts(sheet->peopleList()).contains(carol), kWait);
    QVERIFY(labelTexts(sheet).contains(QStringLiteral("Invite emailed.")));
    QVERIFY(labelTexts(sheet->peopleList()).contains(QStringLiteral("Pending invites")));
    QCOMPARE(m_app->store.pageStatus(m_pageID).sharedCount, 2);

    QPointer<ShareSheet> open(sheet);
    QTest::keyClick(sheet, Qt::Key_Escape);
    QTRY_VERIFY(open.isNull());
    QVERIFY(!pageView()->model().showShare());
}

void TestPageSheets::publishWithAndWithoutAPassword()
{
    QVERIFY(openPageTypedInto(QStringLiteral("Recipes"), QStringLiteral("Soup")));
    auto *sheet = openSheet<PublishSheet>(pageView()->publishButton());
    QVERIFY(sheet);
    QTRY_VERIFY_WITH_TIMEOUT(!sheet->model().loading(), kWait);
    QCOMPARE(sheet->primaryButton()->text(), QStringLiteral("Publish"));

    // Without a password.
    QTest::mouseClick(sheet->primaryButton(), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(sheet->primaryButton()->text(), QStringLiteral("Save changes"), kWait);
    const FakeServiceState::Publication &publication = m_fake.state().publications.at(m_pageID);
    QVERIFY(publication.published);
    QVERIFY(publication.password.isEmpty());
    QVERIFY(m_app->store.pageStatus(m_pageID).published);
    const QString url = sheet->model().url().value_or(QString());
    QVERIFY(url.endsWith(QStringLiteral("/p/") + publication.slug));
    QVERIFY(labelTexts(sheet).contains(QStringLiteral("Published")));

    // The snippet shows in at most two lines, and the sheet shows all it holds, down to its last
    // line, inside the window.
    QTRY_VERIFY(sheet->snippetText()->isVisible());
    QVERIFY(sheet->snippetText()->text().count(u'\n') <= 1);
    QVERIFY(sheet->snippetText()->text().startsWith(QStringLiteral("<iframe src=\"")));
    QCOMPARE(sheet->snippetText()->fullText(), PublishSheetModel::embedSnippet(url));
    const QFontMetrics snippetFont(sheet->snippetText()->font());
    QVERIFY(sheet->snippetText()->height() <= 2 * snippetFont.lineSpacing() + 16);
    const auto fits = [&](QWidget *w) {
        const QRect inSheet(w->mapTo(sheet, QPoint(0, 0)), w->size());
        return sheet->rect().contains(inSheet);
    };
    // The buttons' row is the sheet's last line: nothing cut below it, no empty room either.
    const auto snug = [&] {
        const int below = sheet->height() - sheet->primaryButton()->mapTo(sheet, QPoint(0, 0)).y() -
                          sheet->primaryButton()->height();
        return below >= 16 && below <= 28;
    };
    QTRY_VERIFY(snug());
    QVERIFY(fits(sheet->passwordField()));
    const QRect room = sheet->screen()->availableGeometry();
    QVERIFY(sheet->frameGeometry().top() >= room.top() && sheet->frameGeometry().bottom() <= room.bottom());

    QTest::mouseClick(sheet->copyButton(), Qt::LeftButton);
    QCOMPARE(m_app->clipboard.texts().value(0), url);
    QCOMPARE(sheet->copyButton()->text(), QStringLiteral("Copied!"));

    // With a password: the service keeps it, and the sheet says one is set.
    QTest::keyClicks(sheet->passwordField(), QStringLiteral("open sesame"));
    QTest::keyClick(sheet->passwordField(), Qt::Key_Return); // Return alone publishes nothing
    QTest::qWait(50);
    QVERIFY(m_fake.state().publications.at(m_pageID).password.isEmpty());
    QCOMPARE(m_app->clipboard.texts().size(), 1);
    QTest::mouseClick(sheet->primaryButton(), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(m_fake.state().publications.at(m_pageID).password,
                              QStringLiteral("open sesame"), kWait);
    QTRY_VERIFY(sheet->passwordField()->text().isEmpty());
    QTRY_VERIFY(labelTexts(sheet).contains(
        QStringLiteral("A password is currently set. Leave blank to keep it; type a new one to change.")));
    QTRY_VERIFY(snug());

    // Two visits to the public page, then the sheet opened again counts them.
    QNetworkAccessManager web;
    for (int visit = 0; visit < 2; ++visit) {
        QNetworkReply *reply =
            web.get(QNetworkRequest(QUrl(url + QStringLiteral("?password=open%20sesame"))));
        QSignalSpy finished(reply, &QNetworkReply::finished);
        QVERIFY(finished.wait(kWait));
        QCOMPARE(reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), 200);
        QVERIFY(reply->readAll().contains("Soup"));
        reply->deleteLater();
    }
    QPointer<PublishSheet> open(sheet);
    QTest::keyClick(sheet, Qt::Key_Escape);
    QTRY_VERIFY(open.isNull());
    sheet = openSheet<PublishSheet>(pageView()->publishButton());
    QVERIFY(sheet);
    QTRY_VERIFY_WITH_TIMEOUT(labelTexts(sheet).contains(QStringLiteral("2 views")), kWait);
    QTRY_VERIFY(snug());

    // Taken off the web, the sheet shrinks to the form it shows now.
    QTest::mouseClick(sheet->unpublishButton(), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(sheet->primaryButton()->text(), QStringLiteral("Publish"), kWait);
    QVERIFY(!m_fake.state().publications.at(m_pageID).published);
    QVERIFY(!m_app->store.pageStatus(m_pageID).published);
    QTRY_VERIFY(snug());
}

void TestPageSheets::restoreShowsTheOlderTextInTheOpenEditor_data()
{
    QTest::addColumn<bool>("editWaiting"); // a line typed last, its send failed once
    QTest::newRow("all sent") << false;
    QTest::newRow("an edit waiting after a failed send") << true;
}

void TestPageSheets::restoreShowsTheOlderTextInTheOpenEditor()
{
    QFETCH(bool, editWaiting);
    QVERIFY(openPageTypedInto(QStringLiteral("Diary"), QStringLiteral("First draft")));
    QVERIFY(typeAndSend(QStringLiteral(" and more"), QStringLiteral("First draft and more")));
    BlockRow *row = onlyRow();
    QVERIFY(row->richEditor()->hasFocus()); // the user is still in the block
    if (editWaiting) {
        // The engine's clock stands still: the failed send waits out its back-off until told.
        m_now = QDateTime::currentDateTimeUtc();
        m_app->engine.setClock([this] { return m_now; });
        auto busy = FakeService::Fault::http(503, R"({"error":"Busy"})");
        busy.method = "POST";
        busy.remaining = 1;
        m_fake.setFault(QStringLiteral("/api/blocks.php"), busy);
        QTest::keyClicks(row->richEditor(), QStringLiteral(" and the end"));
        QTRY_VERIFY_WITH_TIMEOUT(
            !m_app->store.state().outbox.empty() && m_app->store.state().outbox.front().attempts == 1, kWait);
    }

    // The saved version holding the first text only.
    qint64 older = 0;
    for (const auto &[id, version] : m_fake.state().versions) {
        const JSONArray blocks = JSONValue(version.snapshot)[QStringLiteral("blocks")].toArray();
        if (version.pageId == m_pageID && blocks.size() == 1 &&
            BlockContent::readString(blocks.front()[QStringLiteral("content")].toObject(),
                                     QStringLiteral("text")) == QLatin1String("First draft"))
            older = id;
    }
    QVERIFY(older);

    auto *sheet = openSheet<VersionHistorySheet>(pageView()->historyButton());
    QVERIFY(sheet);
    PresetConfirmer confirmer(true);
    sheet->setConfirmer(&confirmer);
    QPushButton *restore = nullptr;
    QTRY_VERIFY_WITH_TIMEOUT(
        (restore = sheet->findChild<QPushButton *>(QStringLiteral("restore-%1").arg(older))), kWait);
    QPointer<VersionHistorySheet> open(sheet);
    QTest::mouseClick(restore, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(open.isNull(), kWait);

    // The service, the store and the open editor all hold the restored text, also once what waited
    // may be sent.
    if (editWaiting) {
        m_now = m_now.addSecs(600);
        QTRY_VERIFY_WITH_TIMEOUT(upToDate(), kWait);
        QSignalSpy cycles(&m_app->engine, &SyncEngine::cycleFinished);
        QTRY_VERIFY_WITH_TIMEOUT(cycles.size() >= 2, kWait);
    }
    QCOMPARE(serviceTexts(), QStringList{QStringLiteral("First draft")});
    QVERIFY(m_window->toastOverlay()->messageLabel()->text().startsWith(
        QStringLiteral("Restored version from ")));
    QCOMPARE(onlyRow(), row);
    QCOMPARE(row->richEditor()->toRawText(), QStringLiteral("First draft"));
    QCOMPARE(BlockContent::readString(
                 BlockContent::decode(m_app->store.block(row->model().localID())->contentJSON),
                 QStringLiteral("text")),
             QStringLiteral("First draft"));

    // Writing on goes on from the restored text, and nothing brings the newer one back.
    // The window system gives the window back its activation; offscreen, Qt is told.
    QApplication::setActiveWindow(m_window.get());
    QTRY_VERIFY(row->richEditor()->hasFocus());
    QVERIFY(typeAndSend(QStringLiteral("!"), QStringLiteral("First draft!")));
    QCOMPARE(row->richEditor()->toRawText(), QStringLiteral("First draft!"));
}

QTEST_MAIN(TestPageSheets)
#include "tst_page_sheets.moc"
