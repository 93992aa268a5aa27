#include "app/main_view.h"
#include "collab/ai_panel.h"
#include "collab/ai_panel_model.h"
#include "collab/comments_panel.h"
#include "collab/inline_comment_form.h"
#include "collab/publish_sheet.h"
#include "collab/publish_sheet_model.h"
#include "collab/share_sheet.h"
#include "collab/share_sheet_model.h"
#include "collab/suggestions_panel.h"
#include "collab/version_history_sheet.h"
#include "editor/block_row.h"
#include "editor/page_view.h"
#include "editor/rich_text_editor.h"
#include "fake-service/fake_service.h"
#include "library/library_row_model.h"
#include "support/collab_steps.h"
#include "support/drawn_text.h"
#include "support/editor_steps.h"
#include "support/fake_http_client.h"
#include "support/journey.h"
#include "ui/clamped_text.h"
#include "ui/toast_overlay.h"

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QToolButton>

#include <algorithm>
#include <memory>

namespace {

const QString kEmail = QStringLiteral("robin@example.com");
const QString kPassword = QStringLiteral("hunter22");
const QString kName = QStringLiteral("Robin Hale");
const QString kSamEmail = QStringLiteral("sam@example.com");
const QString kSamPassword = QStringLiteral("sesame12");
const QString kSamName = QStringLiteral("Sam Reed");
const QString kKimEmail = QStringLiteral("kim@example.com");
const QString kTitle = QStringLiteral("Garden plan");
const QStringList kBlocks{QStringLiteral("Plant the tomatoes in May"),
                          QStringLiteral("Water the beds every morning"), QStringLiteral("Buy seeds")};

} // namespace

using namespace journey;

// A new user's page through every collaboration screen of its toolbar, in the real window against
// the fake service: comments, sharing, a suggester's edits, publishing, version history and the AI
// panel, each checked as the window shows it and as the service holds it, and on a second device
// where it syncs. The steps run in order and build on each other.
class TestCollaborationJourney : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void cleanupTestCase();

    void signUpAndWriteAPage();
    void commentOnThePageAndABlock();
    void shareByEmail();
    void acceptAndRejectSuggestions();
    void publishAndUnpublish();
    void restoreAVersion();
    void askTheAssistant();
    void aMarkupTitleThroughShareAndHistory();

private:
    void shoot(const QString &name, QWidget *sheet = nullptr);
    qint64 pageId() { return pageServerID(m_fake, kTitle); }
    // Opens the page from the sidebar of a launch and waits for its text.
    void openThePage(Launch &launched, const QStringList &texts);
    // The page's texts shown on both devices and held by the service, nothing left to send.
    void everywhere(const QStringList &texts);
    template <class Panel>
    Panel *panel(Launch &launched, MainView::PagePanel kind)
    {
        return launched.mainView() ? qobject_cast<Panel *>(launched.mainView()->panel(kind)) : nullptr;
    }
    FakeHttpClient::Reply samSends(const QByteArray &method, const QString &path, const JSONObject &body);

    FakeService m_fake;
    AppDevice m_device;
    AppDevice m_laptopDevice;
    std::unique_ptr<Launch> m_app;
    std::unique_ptr<Launch> m_laptop;
    std::unique_ptr<FakeHttpClient> m_http;
    QString m_samToken;
    QString m_screenshots;
    bool m_failed = false;
};

void TestCollaborationJourney::initTestCase()
{
    m_screenshots = screenshotFolder();
    m_app = launchOnFakeService(m_fake, m_device);
    QVERIFY(m_app);
    m_http = std::make_unique<FakeHttpClient>(m_fake);
    m_laptopDevice.origin = m_fake.origin();
}

void TestCollaborationJourney::init()
{
    if (m_failed)
        QSKIP("an earlier step failed");
    activate(m_app->window.get());
}

void TestCollaborationJourney::cleanup()
{
    m_failed = m_failed || QTest::currentTestFailed();
}

void TestCollaborationJourney::cleanupTestCase()
{
    quit(m_laptop);
    quit(m_app);
}

void TestCollaborationJourney::shoot(const QString &name, QWidget *sheet)
{
    QVERIFY(saveShot(m_screenshots, name, m_app->window.get(), sheet));
}

void TestCollaborationJourney::openThePage(Launch &launched, const QStringList &texts)
{
    LibraryView *sidebar = launched.sidebar();
    QVERIFY(sidebar);
    QTRY_VERIFY_WITH_TIMEOUT(sidebarRow(sidebar, kTitle).isValid(), kWait);
    clickRow(sidebar, kTitle);
    QTRY_VERIFY_WITH_TIMEOUT(launched.pageView(), kWait);
    QTRY_COMPARE_WITH_TIMEOUT(shownTexts(launched.pageView()), texts, kWait);
}

void TestCollaborationJourney::everywhere(const QStringList &texts)
{
    QTRY_COMPARE_WITH_TIMEOUT(storedTexts(m_fake, pageId()), texts, kWait);
    QTRY_COMPARE_WITH_TIMEOUT(shownTexts(m_app->pageView()), texts, kWait);
    QTRY_VERIFY_WITH_TIMEOUT(upToDate(*m_app), kWait);
    // The laptop pulls on its own timer.
    QTRY_COMPARE_WITH_TIMEOUT(shownTexts(m_laptop->pageView()), texts, kWait);
}

FakeHttpClient::Reply TestCollaborationJourney::samSends(const QByteArray &method, const QString &path,
                                                         const JSONObject &body)
{
    return m_http->call(method, path, serializeJSONObject(body), m_samToken);
}

void TestCollaborationJourney::signUpAndWriteAPage()
{
    signInThroughTheForm(*m_app, kEmail, kPassword, kName);
    QCOMPARE(m_fake.requestsTo(QStringLiteral("/api/auth/signup.php")).size(), 1);
    QTRY_VERIFY_WITH_TIMEOUT(upToDate(*m_app), kWait);

    // A new page from the keyboard: its title, then one block after another.
    activate(m_app->window.get());
    QTest::keyClick(m_app->window.get(), Qt::Key_N, Qt::ControlModifier);
    QTRY_VERIFY(m_app->pageView() && m_app->pageView()->titleField()->hasFocus());
    PageView *page = m_app->pageView();
    QTest::keyClicks(keyboard(), kTitle);
    QTRY_COMPARE(page->topLevelList()->rows().size(), size_t(1));
    typeBlocks(page, kBlocks);
    QTRY_COMPARE_WITH_TIMEOUT(storedTexts(m_fake, pageId()), kBlocks, kWait);
    QTRY_VERIFY_WITH_TIMEOUT(upToDate(*m_app), kWait);
    // The sheets need the page on the service.
    QTRY_VERIFY_WITH_TIMEOUT(page->shareButton()->isEnabled() && page->publishButton()->isEnabled() &&
                                 page->historyButton()->isEnabled(),
                             kWait);

    // The same account on a laptop, with the page open.
    m_laptop = launch(m_laptopDevice, pageParts());
    QVERIFY(m_laptop);
    signInThroughTheForm(*m_laptop, kEmail, kPassword);
    openThePage(*m_laptop, kBlocks);
}

void TestCollaborationJourney::commentOnThePageAndABlock()
{
    PageView *page = m_app->pageView();
    QTest::mouseClick(page->commentsButton(), Qt::LeftButton);
    CommentsPanel *comments = nullptr;
    QTRY_VERIFY((comments = panel<CommentsPanel>(*m_app, MainView::PagePanel::comments)) &&
                comments->isVisible());
    QTRY_VERIFY_WITH_TIMEOUT(labelsIn(comments).contains(QString::fromUtf8(CommentsPanel::kEmptyTitle)),
                             kWait);
    QVERIFY(page->commentsButton()->isChecked());

    // On the whole page, from the composer.
    const QString onPage = QStringLiteral("Who brings the stakes?");
    QVERIFY(!comments->postButton()->isEnabled());
    QTest::keyClicks(comments->composer(), onPage);
    QVERIFY(comments->postButton()->isEnabled());
    QTest::mouseClick(comments->postButton(), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(commentCards(comments), QStringList{kName + QStringLiteral(": ") + onPage},
                              kWait);
    QCOMPARE(comments->composer()->toPlainText(), QString());
    QCOMPARE(m_fake.state().comments.size(), size_t(1));
    const FakeServiceState::Comment &posted = m_fake.state().comments.begin()->second;
    QCOMPARE(posted.body, onPage);
    QCOMPARE(posted.pageId, pageId());
    QCOMPARE(posted.blockId, qint64(0));

    // On a word of the first block: selected with a double-click, commented with Ctrl+Shift+M.
    BlockRow *first = page->topLevelList()->rows().front();
    RichTextEditor *editor = first->richEditor();
    focus(editor);
    settleLayout();
    EditorSteps::doubleClick(editor->viewport(), EditorSteps::pointAt(*editor, QStringLiteral("tomatoes")));
    QTRY_COMPARE(editor->textCursor().selectedText(), QStringLiteral("tomatoes"));
    QTest::keyClick(editor, Qt::Key_M, Qt::ControlModifier | Qt::ShiftModifier);
    InlineCommentForm *form = nullptr;
    QTRY_VERIFY((form = openCommentForm()));
    QCOMPARE(form->titleLabel()->text(), QString::fromLatin1(InlineCommentForm::kSelectionTitle));
    QCOMPARE(form->quoteLabel()->text().contains(QStringLiteral("tomatoes")), true);
    QTRY_VERIFY(form->field()->hasFocus());
    const QString onWord = QStringLiteral("Cherry or plum?");
    QTest::keyClicks(form->field(), onWord);
    QTest::keyClick(form->field(), Qt::Key_Return, Qt::ControlModifier);
    QTRY_COMPARE_WITH_TIMEOUT(m_fake.state().comments.size(), size_t(2), kWait);
    const FakeServiceState::Comment &inline_ = m_fake.state().comments.rbegin()->second;
    QCOMPARE(inline_.body, onWord);
    QCOMPARE(inline_.selectionText, std::optional(QStringLiteral("tomatoes")));
    QCOMPARE(inline_.selectionStart,
             std::optional<qint64>(kBlocks.first().indexOf(QStringLiteral("tomatoes"))));
    QCOMPARE(inline_.blockId, m_fake.storedBlocks(pageId()).front().id);

    // The panel shows it with its quote once reloaded.
    QTest::mouseClick(comments->reloadButton(), Qt::LeftButton);
    const QString quoted = kName + QStringLiteral(": \u201Ctomatoes\u201D | ") + onWord;
    QTRY_COMPARE_WITH_TIMEOUT(commentCards(comments),
                              (QStringList{kName + QStringLiteral(": ") + onPage, quoted}), kWait);

    // The laptop sees both and replies in the thread; the reply reaches the first device.
    QTest::mouseClick(m_laptop->pageView()->commentsButton(), Qt::LeftButton);
    CommentsPanel *there = nullptr;
    QTRY_VERIFY((there = panel<CommentsPanel>(*m_laptop, MainView::PagePanel::comments)) &&
                there->isVisible());
    QTRY_COMPARE_WITH_TIMEOUT(commentCards(there),
                              (QStringList{kName + QStringLiteral(": ") + onPage, quoted}), kWait);
    const QString reply = QStringLiteral("I will, from the shed.");
    QTest::keyClicks(there->composer(), reply);
    QTest::mouseClick(there->postButton(), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(m_fake.state().comments.size(), size_t(3), kWait);
    QTest::mouseClick(comments->reloadButton(), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(
        commentCards(comments),
        (QStringList{kName + QStringLiteral(": ") + onPage, quoted, kName + QStringLiteral(": ") + reply}),
        kWait);
    QCOMPARE(m_fake.requestsTo(QStringLiteral("/api/comments.php")).size() >= 6, true);
    // Each card's date is the stored time cut to the minute, as received.
    for (QWidget *card : comments->cards())
        QCOMPARE(labelNamed(card, QStringLiteral("date")).size(), 16);
    QCOMPARE(labelNamed(comments->cards().front(), QStringLiteral("date")),
             FakeService::timestamp(m_fake.state().comments.begin()->second.createdAt).left(16));
    shoot(QStringLiteral("20-comments.png"));
    // A click back in the block ends the selection.
    focus(editor);
    QVERIFY(!editor->textCursor().hasSelection());

    // The toolbar's toggle closes the panels again.
    QTest::mouseClick(m_laptop->pageView()->commentsButton(), Qt::LeftButton);
    QTRY_VERIFY(!panel<CommentsPanel>(*m_laptop, MainView::PagePanel::comments));
    QTest::mouseClick(comments->closeButton(), Qt::LeftButton);
    QTRY_VERIFY(!panel<CommentsPanel>(*m_app, MainView::PagePanel::comments));
    QVERIFY(!page->commentsButton()->isChecked());
}

void TestCollaborationJourney::shareByEmail()
{
    QTest::mouseClick(m_app->pageView()->shareButton(), Qt::LeftButton);
    ShareSheet *sheet = nullptr;
    QTRY_VERIFY((sheet = shownSheet<ShareSheet>(*m_app)));
    QTRY_VERIFY_WITH_TIMEOUT(labelsIn(sheet).contains(QString::fromLatin1(ShareSheet::kNobody)), kWait);
    const auto chooseRole = [sheet](const QString &label) {
        const int index = sheet->roleMenu()->findText(label);
        QVERIFY2(index >= 0, qPrintable(label));
        // As a pick from the open list does.
        sheet->roleMenu()->setCurrentIndex(index);
        Q_EMIT sheet->roleMenu()->activated(index);
    };
    const auto invite = [&](const QString &email, const QString &role) {
        sheet->emailField()->selectAll();
        QTest::keyClicks(sheet->emailField(), email);
        chooseRole(role);
        QVERIFY(sheet->sendButton()->isEnabled());
        QTest::mouseClick(sheet->sendButton(), Qt::LeftButton);
    };
    const auto inviteOf = [this](const QString &email) -> const FakeServiceState::Invite * {
        for (const auto &[id, invite] : m_fake.state().invites) {
            if (invite.email == email)
                return &invite;
        }
        return nullptr;
    };

    // Kim is invited to edit, then only to view, then not at all.
    invite(kKimEmail, QStringLiteral("Can edit"));
    QTRY_VERIFY_WITH_TIMEOUT(labelsIn(sheet).contains(QString::fromLatin1(ShareSheetModel::kInviteEmailed)),
                             kWait);
    QTRY_COMPARE_WITH_TIMEOUT(
        sharePeople(sheet),
        QStringList{QStringLiteral("(invited) / ") + kKimEmail + QStringLiteral(" / Can edit")}, kWait);
    QVERIFY(inviteOf(kKimEmail));
    QCOMPARE(inviteOf(kKimEmail)->role, QStringLiteral("edit"));
    QCOMPARE(inviteOf(kKimEmail)->pageId, pageId());

    invite(kKimEmail, QStringLiteral("View only"));
    QTRY_COMPARE_WITH_TIMEOUT(
        sharePeople(sheet),
        QStringList{QStringLiteral("(invited) / ") + kKimEmail + QStringLiteral(" / View only")}, kWait);
    QCOMPARE(m_fake.state().invites.size(), size_t(1));
    QCOMPARE(inviteOf(kKimEmail)->role, QStringLiteral("view"));

    QToolButton *remove = removeButtonFor(sheet, kKimEmail);
    QVERIFY(remove);
    QTest::mouseClick(remove, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(labelsIn(sheet).contains(QString::fromLatin1(ShareSheet::kNobody)), kWait);
    QVERIFY(!inviteOf(kKimEmail));
    QCOMPARE(m_fake.requestsTo(QStringLiteral("/api/share.php")).last().method, QByteArray("GET"));

    // Sam is invited to suggest, and signs up on a device of their own: the invite becomes access.
    invite(kSamEmail, QStringLiteral("Suggest edits"));
    QTRY_VERIFY_WITH_TIMEOUT(inviteOf(kSamEmail), kWait);
    QCOMPARE(inviteOf(kSamEmail)->role, QStringLiteral("suggest"));
    QTRY_COMPARE_WITH_TIMEOUT(
        sharePeople(sheet),
        QStringList{QStringLiteral("(invited) / ") + kSamEmail + QStringLiteral(" / Suggest edits")}, kWait);
    QTest::keyClick(sheet, Qt::Key_Escape);
    QTRY_VERIFY(!shownSheet<ShareSheet>(*m_app));

    {
        AppDevice samDevice(m_fake.origin());
        std::unique_ptr<Launch> sam = launch(samDevice, pageParts());
        QVERIFY(sam);
        signInThroughTheForm(*sam, kSamEmail, kSamPassword, kSamName);
        quit(sam);
    }
    bool shared = false;
    for (const auto &[id, share] : m_fake.state().shares)
        shared = shared || (share.pageId == pageId() && share.role == QLatin1String("suggest"));
    QVERIFY(shared);

    // Reopened, the sheet lists Sam among those with access.
    activate(m_app->window.get());
    QTest::mouseClick(m_app->pageView()->shareButton(), Qt::LeftButton);
    QTRY_VERIFY((sheet = shownSheet<ShareSheet>(*m_app)));
    QTRY_COMPARE_WITH_TIMEOUT(
        sharePeople(sheet),
        QStringList{kSamName + QStringLiteral(" / ") + kSamEmail + QStringLiteral(" / Suggest edits")},
        kWait);
    QTRY_VERIFY(labelsIn(sheet).contains(QString::fromLatin1(ShareSheet::kHasAccess)));
    // The sidebar counts the people the page is shared with.
    QTRY_COMPARE_WITH_TIMEOUT(
        sidebarRow(m_app->sidebar(), kTitle).data(LibraryRowModel::SharedCountRole).toInt(), 1, kWait);
    QTRY_VERIFY(labelsIn(sheet).contains(QStringLiteral("Share \"Garden plan\"")));
    shoot(QStringLiteral("22-share.png"), sheet);
    QTest::keyClick(sheet, Qt::Key_Escape);
    QTRY_VERIFY(!shownSheet<ShareSheet>(*m_app));
}

void TestCollaborationJourney::acceptAndRejectSuggestions()
{
    // Sam's client: signed in, it reads the page and sends an edit of its second block and a new
    // title; holding the suggest role, both are kept as suggestions.
    FakeHttpClient::Reply login =
        m_http->post(QStringLiteral("/api/auth/login.php"),
                     serializeJSONObject(JSONObject{{QStringLiteral("email"), kSamEmail},
                                                    {QStringLiteral("password"), kSamPassword}}),
                     {});
    QCOMPARE(login.status, 200);
    m_samToken = login[QStringLiteral("token")].toString();
    QVERIFY(!m_samToken.isEmpty());
    const FakeHttpClient::Reply read =
        m_http->get(QStringLiteral("/api/blocks.php?page_id=%1").arg(pageId()), m_samToken);
    QCOMPARE(read.status, 200);
    JSONArray blocks;
    const QString evening = QStringLiteral("Water the beds every evening");
    for (const JSONValue &stored : read[QStringLiteral("blocks")].toArray()) {
        JSONObject content = stored[QStringLiteral("content")].toObject();
        if (content[QStringLiteral("text")].toString() == kBlocks.at(1))
            content[QStringLiteral("text")] = evening;
        blocks.emplace_back(
            JSONObject{{QStringLiteral("id"), stored[QStringLiteral("id")].toInt()},
                       {QStringLiteral("client_id"), stored[QStringLiteral("client_id")].toString()},
                       {QStringLiteral("type"), stored[QStringLiteral("type")].toString()},
                       {QStringLiteral("content"), content},
                       {QStringLiteral("position"), stored[QStringLiteral("position")].toInt()}});
    }
    QCOMPARE(blocks.size(), size_t(kBlocks.size()));
    QCOMPARE(samSends("POST", QStringLiteral("/api/blocks.php"),
                      JSONObject{{QStringLiteral("page_id"), pageId()}, {QStringLiteral("blocks"), blocks}})
                 .status,
             200);
    QCOMPARE(samSends("PATCH", QStringLiteral("/api/pages.php"),
                      JSONObject{{QStringLiteral("page_id"), pageId()},
                                 {QStringLiteral("title"), QStringLiteral("Weed plan")}})
                 .status,
             200);
    QCOMPARE(m_fake.state().suggestions.size(), size_t(2));
    QCOMPARE(storedTexts(m_fake, pageId()), kBlocks); // nothing changed yet

    PageView *page = m_app->pageView();
    QTest::mouseClick(page->suggestionsButton(), Qt::LeftButton);
    SuggestionsPanel *suggestions = nullptr;
    QTRY_VERIFY((suggestions = panel<SuggestionsPanel>(*m_app, MainView::PagePanel::suggestions)) &&
                suggestions->isVisible());
    QTRY_COMPARE_WITH_TIMEOUT(suggestions->cards().size(), qsizetype(2), kWait);
    QWidget *edit = nullptr;
    QWidget *rename = nullptr;
    for (QWidget *card : suggestions->cards()) {
        QCOMPARE(labelNamed(card, QStringLiteral("author")), kSamName);
        const QStringList texts = labelsIn(card);
        if (texts.join(u'|').contains(evening))
            edit = card;
        if (texts.join(u'|').contains(QStringLiteral("Weed plan")))
            rename = card;
    }
    QVERIFY2(edit && rename, qPrintable(labelsIn(suggestions).join(u'|')));
    QCOMPARE(labelNamed(edit, QStringLiteral("kind")), QStringLiteral("Edit block"));
    QCOMPARE(labelNamed(rename, QStringLiteral("kind")), QStringLiteral("Change title"));
    QTRY_VERIFY(labelsIn(suggestions).contains(QString::fromUtf8(SuggestionsPanel::kNote)));
    shoot(QStringLiteral("21-suggestions.png"));

    const qint64 editID = edit->property("suggestionID").toLongLong();
    const qint64 renameID = rename->property("suggestionID").toLongLong();
    QTest::mouseClick(rename->findChild<QPushButton *>(QStringLiteral("reject")), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(m_fake.state().suggestions.at(renameID).status, QStringLiteral("rejected"),
                              kWait);
    QTRY_COMPARE_WITH_TIMEOUT(suggestions->cards().size(), qsizetype(1), kWait);
    QTest::mouseClick(suggestions->cards().front()->findChild<QPushButton *>(QStringLiteral("accept")),
                      Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(m_fake.state().suggestions.at(editID).status, QStringLiteral("accepted"),
                              kWait);
    QTRY_COMPARE_WITH_TIMEOUT(suggestions->shownArea(), suggestions->emptyState(), kWait);

    // The accepted edit shows on both devices; the rejected title does not.
    everywhere({kBlocks.at(0), evening, kBlocks.at(2)});
    QCOMPARE(page->titleField()->toRawText(), kTitle);
    QCOMPARE(m_laptop->pageView()->titleField()->toRawText(), kTitle);
    QCOMPARE(m_fake.state().pages.at(pageId()).title, kTitle);

    QTest::mouseClick(page->suggestionsButton(), Qt::LeftButton);
    QTRY_VERIFY(!panel<SuggestionsPanel>(*m_app, MainView::PagePanel::suggestions));
}

void TestCollaborationJourney::publishAndUnpublish()
{
    QTest::mouseClick(m_app->pageView()->publishButton(), Qt::LeftButton);
    PublishSheet *sheet = nullptr;
    QTRY_VERIFY((sheet = shownSheet<PublishSheet>(*m_app)));
    QTRY_VERIFY_WITH_TIMEOUT(!sheet->model().loading(), kWait);
    QCOMPARE(sheet->primaryButton()->text(), QStringLiteral("Publish"));
    QTRY_VERIFY(labelsIn(sheet).contains(QString::fromLatin1(PublishSheet::kPublishTitle)));
    QTest::mouseClick(sheet->primaryButton(), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(m_fake.state().publications[pageId()].published, kWait);
    QTRY_VERIFY_WITH_TIMEOUT(labelsIn(sheet).contains(QString::fromLatin1(PublishSheet::kPublishedTitle)),
                             kWait);
    const QString slug = m_fake.state().publications[pageId()].slug;
    const QString url = m_fake.origin() + QStringLiteral("/p/") + slug;
    QCOMPARE(sheet->model().url(), std::optional(url));
    QTRY_COMPARE(sheet->primaryButton()->text(), QStringLiteral("Save changes"));
    QVERIFY(sheet->unpublishButton()->isVisible());
    QTRY_VERIFY_WITH_TIMEOUT(
        sidebarRow(m_app->sidebar(), kTitle).data(LibraryRowModel::PublishedRole).toBool(), kWait);

    // Copy puts the address on the clipboard and says so.
    QTest::mouseClick(sheet->copyButton(), Qt::LeftButton);
    QCOMPARE(m_app->app->clipboard.texts().last(), url);
    QCOMPARE(sheet->copyButton()->text(), QStringLiteral("Copied!"));

    // Anyone can read it over the web.
    FakeHttpClient::Reply open = m_http->get(QStringLiteral("/p/") + slug, {});
    QCOMPARE(open.status, 200);
    QVERIFY(open.body.contains(kTitle.toUtf8()));
    QVERIFY(open.body.contains("Water the beds every evening"));

    // A password closes it to those without it.
    QTest::keyClicks(sheet->passwordField(), QStringLiteral("sesame"));
    QTest::mouseClick(sheet->primaryButton(), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(m_fake.state().publications[pageId()].password, QStringLiteral("sesame"),
                              kWait);
    QTRY_VERIFY_WITH_TIMEOUT(!sheet->model().saving(), kWait);
    QCOMPARE(m_http->get(QStringLiteral("/p/") + slug, {}).status, 401);
    QCOMPARE(m_http->get(QStringLiteral("/p/%1?password=sesame").arg(slug), {}).status, 200);
    QTRY_VERIFY_WITH_TIMEOUT(sheet->model().hasPassword(), kWait);
    // The embed snippet frames the same address.
    QVERIFY(sheet->snippetText()->fullText().startsWith(QStringLiteral("<iframe src=\"") + url + u'"'));
    shoot(QStringLiteral("23-publish.png"), sheet);

    QTest::mouseClick(sheet->unpublishButton(), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(!m_fake.state().publications[pageId()].published, kWait);
    QTRY_VERIFY_WITH_TIMEOUT(labelsIn(sheet).contains(QString::fromLatin1(PublishSheet::kPublishTitle)),
                             kWait);
    QCOMPARE(m_http->get(QStringLiteral("/p/%1?password=sesame").arg(slug), {}).status, 404);
    QTRY_VERIFY_WITH_TIMEOUT(
        !sidebarRow(m_app->sidebar(), kTitle).data(LibraryRowModel::PublishedRole).toBool(), kWait);
    if (shownSheet<PublishSheet>(*m_app)) {
        QTest::keyClick(sheet, Qt::Key_Escape);
        QTRY_VERIFY(!shownSheet<PublishSheet>(*m_app));
    }
}

void TestCollaborationJourney::restoreAVersion()
{
    const QStringList before{kBlocks.at(0), QStringLiteral("Water the beds every evening"), kBlocks.at(2)};
    // The version the service made of the page as it stands.
    qint64 saved = 0;
    for (const auto &[id, version] : m_fake.state().versions) {
        if (version.pageId == pageId())
            saved = id;
    }
    QVERIFY(saved);

    // More writing makes newer versions.
    PageView *page = m_app->pageView();
    focus(page->topLevelList()->rows().back()->richEditor());
    QTest::keyClick(keyboard(), Qt::Key_Return);
    QTRY_COMPARE(page->topLevelList()->rows().size(), size_t(4));
    QTRY_VERIFY(page->topLevelList()->rows().back()->richEditor()->hasFocus());
    QTest::keyClicks(keyboard(), QStringLiteral("Pick the beans"));
    everywhere(before + QStringList{QStringLiteral("Pick the beans")});
    QVERIFY(m_fake.state().versions.rbegin()->first > saved);

    QTest::mouseClick(page->historyButton(), Qt::LeftButton);
    VersionHistorySheet *sheet = nullptr;
    QTRY_VERIFY((sheet = shownSheet<VersionHistorySheet>(*m_app)));
    QPushButton *restore = nullptr;
    QTRY_VERIFY_WITH_TIMEOUT(
        (restore = sheet->findChild<QPushButton *>(QStringLiteral("restore-%1").arg(saved))), kWait);
    // Newest first, each by its author. Rows just made show a turn later (their layout shows them).
    QTRY_VERIFY(labelsIn(sheet).join(u'|').contains(kName));
    QTRY_VERIFY(labelsIn(sheet).contains(QString::fromLatin1(VersionHistorySheet::kTitle)));
    shoot(QStringLiteral("24-history.png"), sheet);
    QTest::mouseClick(restore, Qt::LeftButton);
    QVERIFY(answerQuestion(sheet, QString::fromLatin1(VersionHistorySheet::kRestore)));

    QTRY_VERIFY_WITH_TIMEOUT(!m_fake.requestsTo(QStringLiteral("/api/versions.php")).isEmpty() &&
                                 m_fake.requestsTo(QStringLiteral("/api/versions.php")).last().method ==
                                     "PATCH",
                             kWait);
    // The page goes back on both devices.
    everywhere(before);
    QTRY_VERIFY(!shownSheet<VersionHistorySheet>(*m_app));
}

void TestCollaborationJourney::askTheAssistant()
{
    PageView *page = m_app->pageView();
    QTest::mouseClick(page->aiButton(), Qt::LeftButton);
    AIPanel *ai = nullptr;
    QTRY_VERIFY((ai = panel<AIPanel>(*m_app, MainView::PagePanel::ai)) && ai->isVisible());
    QCOMPARE(ai->model().action(), QString::fromLatin1(AIPanelModel::kAsk));
    QVERIFY(!ai->runButton()->isEnabled());
    const QString question = QStringLiteral("When do the tomatoes go in?");
    QTest::keyClicks(ai->promptEditor(), question);
    QVERIFY(ai->runButton()->isEnabled());
    QTest::mouseClick(ai->runButton(), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(ai->resultLabel()->isVisible() && ai->model().result().startsWith(QStringLiteral(
                                                                   "From the page: Plant the tomatoes")),
                             kWait);
    QVERIFY(ai->resultLabel()->text().contains(QStringLiteral("Plant the tomatoes in May")));
    const QList<HttpRequest> asked = m_fake.requestsTo(QStringLiteral("/api/ai.php"));
    QCOMPARE(asked.size(), 1);
    const JSONObject body = parseJSONObject(asked.front().body);
    QCOMPARE(FakeService::stringField(body, QStringLiteral("action")), QStringLiteral("ask"));
    QCOMPARE(FakeService::stringField(body, QStringLiteral("prompt")), question);
    QCOMPARE(body.at(QStringLiteral("page_id")).toInt(), pageId());
    QTRY_VERIFY(ai->badge()->isVisible() && ai->badge()->text().endsWith(QStringLiteral("left today")));
    QTRY_VERIFY(labelsIn(ai).contains(QString::fromLatin1(AIPanel::kTitle)));
    shoot(QStringLiteral("25-ai.png"));

    // Copy hands the answer over for pasting into the page.
    QTest::mouseClick(ai->copyButton(), Qt::LeftButton);
    QCOMPARE(m_app->app->clipboard.texts().last(), ai->model().result());

    // With the comments beside it, the page keeps room for its title and its whole toolbar, and the
    // sidebar for its names.
    QTest::mouseClick(page->commentsButton(), Qt::LeftButton);
    QTRY_VERIFY(panel<CommentsPanel>(*m_app, MainView::PagePanel::comments));
    settleLayout();
    QTRY_VERIFY(page->width() >= MainView::kEditorMinWidth);
    QVERIFY(m_app->mainView()->sidebarColumn()->width() >= MainView::kSidebarMinWidth);
    for (QToolButton *button : {page->aiButton(), page->commentsButton(), page->suggestionsButton(),
                                page->shareButton(), page->publishButton(), page->historyButton()})
        QVERIFY2(button->isVisible(), qPrintable(button->toolTip()));
    QTest::mouseClick(page->commentsButton(), Qt::LeftButton);
    QTest::mouseClick(ai->closeButton(), Qt::LeftButton);
    QTRY_VERIFY(!panel<AIPanel>(*m_app, MainView::PagePanel::ai));
}

void TestCollaborationJourney::aMarkupTitleThroughShareAndHistory()
{
    const qint64 id = pageId();
    const QString markup = QStringLiteral("When to use <br> and <p> tags & Q&A");
    PageView *page = m_app->pageView();
    focus(page->titleField());
    QTest::keyClick(keyboard(), Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(keyboard(), markup);
    QTRY_COMPARE_WITH_TIMEOUT(m_fake.state().pages.at(id).title, markup, kWait);
    QTRY_VERIFY_WITH_TIMEOUT(upToDate(*m_app), kWait);
    QTRY_VERIFY_WITH_TIMEOUT(sidebarRow(m_app->sidebar(), markup).isValid(), kWait);

    // The share sheet's header: one line, the whole title as typed.
    QTest::mouseClick(page->shareButton(), Qt::LeftButton);
    ShareSheet *share = nullptr;
    QTRY_VERIFY((share = shownSheet<ShareSheet>(*m_app)));
    const QString header = ShareSheetModel::title(markup);
    QLabel *title = nullptr;
    for (QLabel *label : share->findChildren<QLabel *>()) {
        if (label->text() == header)
            title = label;
    }
    QVERIFY(title);
    QCOMPARE(DrawnText::ofLabel(title), header);
    QVERIFY(title->sizeHint().height() < 2 * title->fontMetrics().lineSpacing());
    shoot(QStringLiteral("26-share-markup-title.png"), share);
    QTest::keyClick(share, Qt::Key_Escape);
    QTRY_VERIFY(!shownSheet<ShareSheet>(*m_app));

    // A block written after the rename, then the version of the renamed page restored: the title
    // stays as typed, in the window and on the service, and every line of the history is plain.
    qint64 renamed = 0;
    for (const auto &[versionID, version] : m_fake.state().versions) {
        if (version.pageId == id && JSONValue(version.snapshot)[QStringLiteral("title")].toString() == markup)
            renamed = versionID;
    }
    QVERIFY(renamed);
    const QStringList before = storedTexts(m_fake, id);
    focus(page->topLevelList()->rows().back()->richEditor());
    QTest::keyClick(keyboard(), Qt::Key_Return);
    QTRY_VERIFY(page->topLevelList()->rows().back()->richEditor()->hasFocus());
    QTest::keyClicks(keyboard(), QStringLiteral("R&D <b>notes</b>"));
    QTRY_COMPARE_WITH_TIMEOUT(storedTexts(m_fake, id),
                              before + QStringList{QStringLiteral("R&D <b>notes</b>")}, kWait);
    QTRY_VERIFY_WITH_TIMEOUT(upToDate(*m_app), kWait);

    QTest::mouseClick(page->historyButton(), Qt::LeftButton);
    VersionHistorySheet *history = nullptr;
    QTRY_VERIFY((history = shownSheet<VersionHistorySheet>(*m_app)));
    QPushButton *restore = nullptr;
    QTRY_VERIFY_WITH_TIMEOUT(
        (restore = history->findChild<QPushButton *>(QStringLiteral("restore-%1").arg(renamed))), kWait);
    QTRY_VERIFY(labelsIn(history).join(u'|').contains(kName));
    for (const QLabel *label : history->findChildren<QLabel *>())
        QCOMPARE(DrawnText::ofLabel(label), label->text());
    shoot(QStringLiteral("27-history-markup-title.png"), history);
    QTest::mouseClick(restore, Qt::LeftButton);
    QVERIFY(answerQuestion(history, QString::fromLatin1(VersionHistorySheet::kRestore)));
    QTRY_VERIFY_WITH_TIMEOUT(!shownSheet<VersionHistorySheet>(*m_app), kWait);
    QTRY_COMPARE_WITH_TIMEOUT(storedTexts(m_fake, id), before, kWait);
    QTRY_COMPARE_WITH_TIMEOUT(shownTexts(m_app->pageView()), before, kWait);
    QCOMPARE(m_fake.state().pages.at(id).title, markup);
    QCOMPARE(m_app->pageView()->titleField()->toRawText(), markup);
    QLabel *toast = m_app->window->toastOverlay()->messageLabel();
    QTRY_VERIFY(DrawnText::ofLabel(toast).startsWith(QStringLiteral("Restored version from ")));
}

QTEST_MAIN(TestCollaborationJourney)
#include "tst_collaboration_journey.moc"
