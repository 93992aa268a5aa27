#include "api/service_client.h"
#include "collab/inline_comment_form.h"
#include "editor/block_row.h"
#include "editor/block_row_model.h"
#include "editor/comment_button.h"
#include "editor/page_view.h"
#include "editor/rich_text_editor.h"
#include "fake-service/fake_service.h"
#include "support/editor_steps.h"
#include "support/library_steps.h"
#include "support/test_device.h"

#include <QApplication>
#include <QLabel>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include <algorithm>
#include <memory>

namespace {

const QString kComments = QStringLiteral("/api/comments.php");

// The comment form of the open popover, if any.
InlineCommentForm *openForm()
{
    for (QWidget *top : QApplication::topLevelWidgets()) {
        if (!top->isVisible())
            continue;
        if (auto *form = top->findChild<InlineCommentForm *>())
            return form;
    }
    return nullptr;
}

} // namespace

// Comments on a block or a selected stretch of it, from the row's popover in the page editor.
class TestInlineComments : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void selectionPointsIntoTheStoredText_data();
    void selectionPointsIntoTheStoredText();
    void bareCaretSendsNoSelection();
    void failedPostKeepsTheFormAndTheCount();
    void closingThePageWhilePostingKeepsTheComment();
    void syncNoteLiftsWhenTheBlockSyncs();
    void keyboardPostsOnce_data();
    void keyboardPostsOnce();

private:
    // A synced page with one block holding `text` (on the service unless told), open in an editor.
    BlockRow *openBlock(const QString &text, bool blockSynced = true);
    void commentWithShortcut(BlockRow *row, qsizetype start, qsizetype length, const QString &body);

    FakeService m_fake;
    FakeService::Account m_account;
    std::unique_ptr<TestDevice> m_device;
    std::unique_ptr<PageView> m_view;
    QString m_pageLocalID;
    QString m_blockLocalID;
    int m_accounts = 0;
};

void TestInlineComments::initTestCase()
{
    QVERIFY(m_fake.start());
}

void TestInlineComments::init()
{
    m_fake.clearFaults();
    m_fake.clearRequests();
    m_fake.state().comments.clear();
    m_account = m_fake.createAccount(QStringLiteral("inline%1@example.com").arg(++m_accounts), "secret12",
                                     QStringLiteral("Ann"));
    m_device = deviceInWorkspace(m_fake, m_account);
}

void TestInlineComments::cleanup()
{
    m_view.reset();
    m_fake.clearFaults();
    m_device.reset();
}

BlockRow *TestInlineComments::openBlock(const QString &text, bool blockSynced)
{
    const FNPage page = m_device->addPage(m_account.workspaceId, QStringLiteral("Notes"));
    if (!m_device->sync())
        return nullptr;
    m_pageLocalID = page.localID;
    m_blockLocalID = m_device->addBlock(page.localID, text, 0).localID;
    if (blockSynced) {
        m_device->queueBlockUpsert(page.localID);
        if (!m_device->sync() || m_device->block(m_blockLocalID)->serverID == 0)
            return nullptr;
    }
    m_view =
        std::make_unique<PageView>(m_device->context(), page.localID, nullptr, EditorSteps::fastTiming());
    m_view->resize(700, 600);
    m_view->show();
    QApplication::setActiveWindow(m_view.get());
    if (!QTest::qWaitForWindowActive(m_view.get()) || !QTest::qWaitFor([&] { return m_view->isLaidOut(); }))
        return nullptr;
    return m_view->row(m_blockLocalID);
}

void TestInlineComments::commentWithShortcut(BlockRow *row, qsizetype start, qsizetype length,
                                             const QString &body)
{
    RichTextEditor *editor = row->richEditor();
    QVERIFY(editor);
    editor->setFocus();
    QTRY_VERIFY(editor->hasFocus());
    QTextCursor cursor = editor->textCursor();
    cursor.setPosition(int(start));
    cursor.setPosition(int(start + length), QTextCursor::KeepAnchor);
    editor->setTextCursor(cursor);
    QTest::keyClick(editor, Qt::Key_M, Qt::ControlModifier | Qt::ShiftModifier);
    QTRY_VERIFY(openForm());
    InlineCommentForm *form = openForm();
    QTRY_VERIFY(form->field()->hasFocus());
    QTest::keyClicks(form->field(), body);
    QTest::keyClick(form->field(), Qt::Key_Return, Qt::ControlModifier);
}

void TestInlineComments::selectionPointsIntoTheStoredText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("selected");
    QTest::addColumn<QString>("quote");

    QTest::newRow("after hidden markers") << "**bold** and *it* word"
                                          << "word"
                                          << "word";
    QTest::newRow("after an emoji") << "\U0001F600\U0001F389 then word"
                                    << "word"
                                    << "word";
    QTest::newRow("across a marker") << "plain **bold**"
                                     << "n **bo"
                                     << "n **bo";
    const QString letters(200, u'x');
    QTest::newRow("200 letters") << letters << letters << QString(120, u'x');
}

void TestInlineComments::selectionPointsIntoTheStoredText()
{
    QFETCH(QString, text);
    QFETCH(QString, selected);
    QFETCH(QString, quote);

    BlockRow *row = openBlock(text);
    QVERIFY(row);
    const QString stored = TestDevice::textOf(*m_device->block(m_blockLocalID));
    const qsizetype start = stored.indexOf(selected);
    QVERIFY(start >= 0);
    commentWithShortcut(row, start, selected.size(), QStringLiteral("nice"));
    QTRY_COMPARE(m_fake.state().comments.size(), size_t(1));

    const auto &comment = m_fake.state().comments.begin()->second;
    QCOMPARE(comment.body, QStringLiteral("nice"));
    QCOMPARE(comment.blockId, m_device->block(m_blockLocalID)->serverID);
    QVERIFY(comment.selectionStart && comment.selectionLength);
    QCOMPARE(stored.mid(*comment.selectionStart, *comment.selectionLength), selected);
    QCOMPARE(comment.selectionText, std::optional<QString>(quote));
    QTRY_COMPARE(row->commentButton()->count(), 1);
    QTRY_VERIFY(!openForm());
}

void TestInlineComments::bareCaretSendsNoSelection()
{
    BlockRow *row = openBlock(QStringLiteral("some words"));
    QVERIFY(row);
    // A selection captured before is replaced by the caret's nothing.
    row->model().commentSelectionStart = 1;
    row->model().commentSelectionLength = 2;
    row->model().commentSelectionText = QStringLiteral("om");
    commentWithShortcut(row, 4, 0, QStringLiteral("on the block"));
    QTRY_COMPARE(m_fake.state().comments.size(), size_t(1));
    const std::vector<HttpRequest> posts = requestsWith(m_fake, kComments, "POST");
    QCOMPARE(posts.size(), size_t(1));
    QVERIFY2(!posts[0].body.contains("selection_"), posts[0].body.constData());
    QVERIFY(posts[0].body.contains("\"block_id\""));
    // The reply comes back before the test ends, or the client would cancel it on its way out.
    QTRY_COMPARE(row->commentButton()->count(), 1);
}

void TestInlineComments::failedPostKeepsTheFormAndTheCount()
{
    BlockRow *row = openBlock(QStringLiteral("some words"));
    QVERIFY(row);
    m_fake.setFault(kComments, FakeService::Fault::http(500, R"({"error":"no"})"));
    commentWithShortcut(row, 0, 4, QStringLiteral("kept"));
    QTRY_VERIFY(!requestsWith(m_fake, kComments, "POST").empty());
    QTRY_VERIFY(!row->model().inlineCommentSending);
    QCOMPARE(row->commentButton()->count(), 0);
    QVERIFY(openForm());
    QCOMPARE(openForm()->field()->toPlainText(), QStringLiteral("kept"));
    QVERIFY(openForm()->postButton()->isEnabled());
}

void TestInlineComments::closingThePageWhilePostingKeepsTheComment()
{
    BlockRow *row = openBlock(QStringLiteral("some words"));
    QVERIFY(row);
    m_fake.setFault(kComments, FakeService::Fault::delay(300));
    commentWithShortcut(row, 5, 5, QStringLiteral("while leaving"));
    QTRY_VERIFY(row->model().inlineCommentSending);
    bool answered = false;
    QObject listening; // the connection ends with this test
    connect(&m_device->client().transport().serviceTransport(), &CurlTransport::finished, &listening,
            [&answered](QNetworkReply *reply) { answered = answered || reply->url().path() == kComments; });
    m_view.reset();
    // The reply arrives after the row has gone.
    QTRY_VERIFY(answered);
    QCOMPARE(m_fake.state().comments.size(), size_t(1));
    QCOMPARE(m_fake.state().comments.begin()->second.body, QStringLiteral("while leaving"));
}

void TestInlineComments::syncNoteLiftsWhenTheBlockSyncs()
{
    BlockRow *row = openBlock(QStringLiteral("not yet sent"), false);
    QVERIFY(row);
    QCOMPARE(row->model().currentBlock().serverID, 0);
    QTest::mouseClick(row->commentButton(), Qt::LeftButton);
    QTRY_VERIFY(openForm());
    InlineCommentForm *form = openForm();
    QVERIFY(form->syncNote()->isVisible());
    QTRY_VERIFY(form->field()->hasFocus());
    QTest::keyClicks(form->field(), QStringLiteral("waiting"));
    QVERIFY(!form->postButton()->isEnabled());

    // The block reaches the service while the popover stays open.
    QVERIFY(m_device->queueBlockUpsert(m_pageLocalID));
    QVERIFY(m_device->sync());
    QTRY_VERIFY(!form->syncNote()->isVisible());
    QVERIFY(form->postButton()->isEnabled());
    QTest::keyClick(form->field(), Qt::Key_Return, Qt::ControlModifier);
    QTRY_COMPARE(row->commentButton()->count(), 1);
    QCOMPARE(m_fake.state().comments.begin()->second.blockId, m_device->block(m_blockLocalID)->serverID);
}

void TestInlineComments::keyboardPostsOnce_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<int>("presses");
    QTest::addColumn<int>("posts");
    QTest::addColumn<QString>("left"); // the field's text afterwards, while it is open

    const int ctrl = int(Qt::ControlModifier);
    QTest::newRow("Ctrl+Return pressed twice") << int(Qt::Key_Return) << ctrl << 2 << 1 << "";
    QTest::newRow("Ctrl+Enter on the keypad")
        << int(Qt::Key_Enter) << (ctrl | int(Qt::KeypadModifier)) << 1 << 1 << "";
    QTest::newRow("Return alone") << int(Qt::Key_Return) << 0 << 1 << 0 << "note\n";
}

void TestInlineComments::keyboardPostsOnce()
{
    QFETCH(int, key);
    QFETCH(int, modifiers);
    QFETCH(int, presses);
    QFETCH(int, posts);
    QFETCH(QString, left);

    BlockRow *row = openBlock(QStringLiteral("some words"));
    QVERIFY(row);
    // Held, so a second press lands while the first post is out.
    m_fake.setFault(kComments, once(FakeService::Fault::delay(300)));
    QTest::mouseClick(row->commentButton(), Qt::LeftButton);
    QTRY_VERIFY(openForm());
    InlineCommentForm *form = openForm();
    QTRY_VERIFY(form->field()->hasFocus());
    QTest::keyClicks(form->field(), QStringLiteral("note"));
    for (int i = 0; i < presses; ++i)
        QTest::keyClick(form->field(), Qt::Key(key), Qt::KeyboardModifiers(modifiers));
    if (posts == 0) {
        QTest::qWait(100);
        QVERIFY(requestsWith(m_fake, kComments, "POST").empty());
        QCOMPARE(form->field()->toPlainText(), left);
        return;
    }
    QTRY_COMPARE(row->commentButton()->count(), posts);
    QTest::qWait(100);
    QCOMPARE(requestsWith(m_fake, kComments, "POST").size(), size_t(posts));
    QCOMPARE(m_fake.state().comments.size(), size_t(posts));
}

QTEST_MAIN(TestInlineComments)
#include "tst_inline_comments.moc"
