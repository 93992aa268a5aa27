#include "api/service_client.h"
#include "collab/comments_panel.h"
#include "collab/comments_panel_model.h"
#include "fake-service/fake_service.h"
#include "support/library_steps.h"
#include "support/test_device.h"

#include <QFrame>
#include <QLabel>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>

#include <algorithm>
#include <memory>

namespace {

const QString kComments = QStringLiteral("/api/comments.php");

QString labelIn(QWidget *card, const char *name)
{
    auto *label = card ? card->findChild<QLabel *>(QString::fromLatin1(name)) : nullptr;
    return label ? label->text() : QStringLiteral("<none>");
}

} // namespace

// The comment sidebar against the fake service: what a card shows, loading, posting and failures.
class TestCommentsPanel : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void cardShowsTheComment_data();
    void cardShowsTheComment();
    void postAppendsAtTheEndOfTheServiceOrder();
    void bodyKeepsLineBreaksAndLosesSpaces_data();
    void bodyKeepsLineBreaksAndLosesSpaces();
    void loadFailureKeepsTheList();
    void postFailureShowsTheServerText_data();
    void postFailureShowsTheServerText();
    void unsyncedPageLoadsNothingAndCannotPost();
    void closingWhilePostingKeepsTheComment();
    void contextLineAsDrawn_data();
    void contextLineAsDrawn();
    void spinnerStandsBeforePostWhilePosting();
    void composerGrowsWithItsText_data();
    void composerGrowsWithItsText();

private:
    std::unique_ptr<CommentsPanel> openPanel();
    void waitLoaded(CommentsPanel &panel);
    void type(CommentsPanel &panel, const QString &text);
    void addComment(const QString &body);

    FakeService m_fake;
    FakeService::Account m_account;
    std::unique_ptr<TestDevice> m_device;
    qint64 m_pageServerID = 0;
    int m_accounts = 0;
};

void TestCommentsPanel::initTestCase()
{
    QVERIFY(m_fake.start());
}

void TestCommentsPanel::init()
{
    m_fake.clearFaults();
    m_account = m_fake.createAccount(QStringLiteral("comments%1@example.com").arg(++m_accounts), "secret12",
                                     QStringLiteral("Ann"));
    m_device = deviceInWorkspace(m_fake, m_account);
    const FNPage page = m_device->addPage(m_account.workspaceId, QStringLiteral("Notes"));
    QVERIFY(m_device->sync());
    m_pageServerID = m_device->page(page.localID)->serverID;
    QVERIFY(m_pageServerID != 0);
}

void TestCommentsPanel::cleanup()
{
    m_fake.clearFaults();
    m_device.reset();
}

std::unique_ptr<CommentsPanel> TestCommentsPanel::openPanel()
{
    const qint64 id = m_pageServerID;
    auto panel = std::make_unique<CommentsPanel>(
        m_device->client(), [id] { return id; }, [] {});
    panel->show();
    return panel;
}

void TestCommentsPanel::waitLoaded(CommentsPanel &panel)
{
    QTRY_VERIFY(!panel.model().isLoading());
}

void TestCommentsPanel::type(CommentsPanel &panel, const QString &text)
{
    panel.composer()->setFocus();
    panel.composer()->setPlainText(text);
}

// One comment made over HTTP by the page's owner.
void TestCommentsPanel::addComment(const QString &body)
{
    const qint64 before = m_fake.state().nextCommentId;
    CommentCreateReq req;
    req.page_id = m_pageServerID;
    req.body = body;
    auto task = m_device->client().createComment(req);
    QTRY_VERIFY_WITH_TIMEOUT(m_fake.state().nextCommentId > before, 5000);
}

void TestCommentsPanel::cardShowsTheComment_data()
{
    QTest::addColumn<QByteArray>("comment"); // members besides id, page_id and body
    QTest::addColumn<QString>("author");
    QTest::addColumn<QString>("date");
    QTest::addColumn<QString>("context");

    const QByteArray at = R"("created_at":"2024-03-05T09:41:27Z")";
    QTest::newRow("user name") << (R"("user_name":"Ann","guest_name":"Gus",)" + at) << "Ann"
                               << "2024-03-05T09:41"
                               << "<none>";
    QTest::newRow("guest when user name is null") << (R"("user_name":null,"guest_name":"Gus",)" + at) << "Gus"
                                                  << "2024-03-05T09:41"
                                                  << "<none>";
    QTest::newRow("anonymous when both are absent") << at << "Anonymous"
                                                    << "2024-03-05T09:41"
                                                    << "<none>";
    QTest::newRow("empty user name stays empty") << (R"("user_name":"","guest_name":"Gus",)" + at) << ""
                                                 << "2024-03-05T09:41"
                                                 << "<none>";
    QTest::newRow("short date shown whole")
        << QByteArray(R"("user_name":"Ann","created_at":"2024-03-05")") << "Ann"
        << "2024-03-05"
        << "<none>";
    QTest::newRow("quote wins over block")
        << (R"("user_name":"Ann","block_id":4,"selection_text":"word",)" + at) << "Ann"
        << "2024-03-05T09:41"
        << "\u201Cword\u201D";
    QTest::newRow("empty quote shows the block")
        << (R"("user_name":"Ann","block_id":4,"selection_text":"",)" + at) << "Ann"
        << "2024-03-05T09:41"
        << "On a block";
    QTest::newRow("resolved is listed")
        << (R"("user_name":"Ann","resolved_at":"2024-03-06 10:00:00",)" + at) << "Ann"
        << "2024-03-05T09:41"
        << "<none>";
}

void TestCommentsPanel::cardShowsTheComment()
{
    QFETCH(QByteArray, comment);
    QFETCH(QString, author);
    QFETCH(QString, date);
    QFETCH(QString, context);

    const QByteArray body = R"({"comments":[{"id":1,"page_id":)" + QByteArray::number(m_pageServerID) +
                            R"(,"body":"<b>hi</b>",)" + comment + "}]}";
    m_fake.setFault(kComments, FakeService::Fault::http(200, body));
    auto panel = openPanel();
    waitLoaded(*panel);

    const QList<QWidget *> cards = panel->cards();
    QCOMPARE(cards.size(), 1);
    QCOMPARE(labelIn(cards[0], "author"), author);
    QCOMPARE(labelIn(cards[0], "date"), date);
    QCOMPARE(labelIn(cards[0], "context"), context);
    QCOMPARE(labelIn(cards[0], "body"), QStringLiteral("<b>hi</b>"));
    QCOMPARE(cards[0]->findChild<QLabel *>(QStringLiteral("body"))->textFormat(), Qt::PlainText);
}

void TestCommentsPanel::postAppendsAtTheEndOfTheServiceOrder()
{
    // The service lists newest first; the panel keeps that order and adds its own post at the end.
    addComment(QStringLiteral("older"));
    addComment(QStringLiteral("newer"));
    const QByteArray reversed = R"({"comments":[)"
                                R"({"id":2,"page_id":1,"user_name":"Ann","body":"newer","created_at":"x"},)"
                                R"({"id":1,"page_id":1,"user_name":"Ann","body":"older","created_at":"x"}]})";
    m_fake.setFault(kComments, FakeService::Fault::http(200, reversed));
    auto panel = openPanel();
    waitLoaded(*panel);
    m_fake.clearFaults();

    type(*panel, QStringLiteral("  mine\t"));
    QVERIFY(panel->postButton()->isEnabled());
    QTest::mouseClick(panel->postButton(), Qt::LeftButton);
    QTRY_COMPARE(panel->cards().size(), 3);
    QCOMPARE(labelIn(panel->cards()[0], "body"), QStringLiteral("newer"));
    QCOMPARE(labelIn(panel->cards()[2], "body"), QStringLiteral("mine"));
    QCOMPARE(labelIn(panel->cards()[2], "author"), QStringLiteral("Ann"));
    QCOMPARE(panel->composer()->toPlainText(), QString());
    QVERIFY(!panel->errorLabel()->isVisible());
    QCOMPARE(m_fake.state().comments.rbegin()->second.body, QStringLiteral("mine"));
}

void TestCommentsPanel::bodyKeepsLineBreaksAndLosesSpaces_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<bool>("canPost");
    QTest::addColumn<QString>("stored");

    QTest::newRow("line breaks kept") << "\n\nhi\n" << true << "\n\nhi\n";
    QTest::newRow("only line breaks") << "\n\n" << true << "\n\n";
    QTest::newRow("spaces and tabs") << " \t  " << false << "";
    QTest::newRow("surrounding spaces") << "\t hi there  " << true << "hi there";
}

void TestCommentsPanel::bodyKeepsLineBreaksAndLosesSpaces()
{
    QFETCH(QString, typed);
    QFETCH(bool, canPost);
    QFETCH(QString, stored);

    auto panel = openPanel();
    waitLoaded(*panel);
    type(*panel, typed);
    QCOMPARE(panel->postButton()->isEnabled(), canPost);
    if (!canPost)
        return;
    QTest::mouseClick(panel->postButton(), Qt::LeftButton);
    QTRY_COMPARE(panel->cards().size(), 1);
    QCOMPARE(m_fake.state().comments.rbegin()->second.body, stored);
    QCOMPARE(labelIn(panel->cards()[0], "body"), stored);
}

void TestCommentsPanel::loadFailureKeepsTheList()
{
    addComment(QStringLiteral("kept"));
    auto panel = openPanel();
    waitLoaded(*panel);
    QCOMPARE(panel->cards().size(), 1);

    m_fake.setFault(kComments, FakeService::Fault::http(500, R"({"error":"boom"})"));
    QTest::mouseClick(panel->reloadButton(), Qt::LeftButton);
    QTRY_VERIFY(panel->errorLabel()->isVisible());
    QCOMPARE(panel->errorLabel()->text(), QStringLiteral("Couldn't load comments."));
    QVERIFY(!panel->model().isLoading());
    QCOMPARE(panel->cards().size(), 1);
    QCOMPARE(labelIn(panel->cards()[0], "body"), QStringLiteral("kept"));

    m_fake.clearFaults();
    QTest::mouseClick(panel->reloadButton(), Qt::LeftButton);
    QTRY_VERIFY(!panel->errorLabel()->isVisible());
    QCOMPARE(panel->cards().size(), 1);
}

void TestCommentsPanel::postFailureShowsTheServerText_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("shown");

    QTest::newRow("500 with error") << 500 << QByteArray(R"({"error":"Comments are closed"})")
                                    << "Comments are closed";
    QTest::newRow("403 with error") << 403 << QByteArray(R"({"error":"<i>No</i>"})") << "<i>No</i>";
    QTest::newRow("500 plain text") << 500 << QByteArray("Internal error") << "Failed to post";
    QTest::newRow("401") << 401 << QByteArray(R"({"error":"Token expired"})") << "Failed to post";
}

void TestCommentsPanel::postFailureShowsTheServerText()
{
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(QString, shown);

    auto panel = openPanel();
    waitLoaded(*panel);
    m_fake.setFault(kComments, FakeService::Fault::http(status, body));
    type(*panel, QStringLiteral("keep me"));
    QTest::mouseClick(panel->postButton(), Qt::LeftButton);
    QTRY_VERIFY(panel->errorLabel()->isVisible());
    QTRY_VERIFY(!panel->model().isPosting());
    QCOMPARE(panel->errorLabel()->text(), shown);
    QCOMPARE(panel->errorLabel()->textFormat(), Qt::PlainText);
    QCOMPARE(panel->composer()->toPlainText(), QStringLiteral("keep me"));
    QVERIFY(panel->cards().isEmpty());
}

void TestCommentsPanel::unsyncedPageLoadsNothingAndCannotPost()
{
    m_fake.clearRequests();
    CommentsPanel panel(
        m_device->client(), [] { return qint64(0); }, [] {});
    QVERIFY(!panel.model().isLoading());
    type(panel, QStringLiteral("hello"));
    QVERIFY(!panel.postButton()->isEnabled());
    QVERIFY(requestsWith(m_fake, kComments, "GET").empty());
}

void TestCommentsPanel::closingWhilePostingKeepsTheComment()
{
    auto panel = openPanel();
    waitLoaded(*panel);
    m_fake.setFault(kComments, FakeService::Fault::delay(300));
    type(*panel, QStringLiteral("sent before closing"));
    QTest::mouseClick(panel->postButton(), Qt::LeftButton);
    QVERIFY(panel->model().isPosting());
    bool answered = false;
    QObject listening; // the connection ends with this test
    connect(&m_device->client().transport().serviceTransport(), &CurlTransport::finished, &listening,
            [&answered](QNetworkReply *reply) { answered = answered || reply->url().path() == kComments; });
    panel.reset();
    // The reply arrives after the panel has gone.
    QTRY_VERIFY(answered);
    QVERIFY(!m_fake.state().comments.empty());
    QCOMPARE(m_fake.state().comments.rbegin()->second.body, QStringLiteral("sent before closing"));
}

void TestCommentsPanel::contextLineAsDrawn_data()
{
    QTest::addColumn<QByteArray>("comment"); // members besides id, page_id and body
    QTest::addColumn<bool>("quote");
    QTest::addColumn<QString>("text");

    QTest::newRow("short quote") << QByteArray(R"("block_id":4,"selection_text":"a word")") << true
                                 << "\u201Ca word\u201D";
    // Far more than two lines of the panel: cut at the end of the second.
    QTest::newRow("long quote") << (R"("block_id":4,"selection_text":")" +
                                    QByteArray("many words ").repeated(40) + R"(")")
                                << true << "";
    QTest::newRow("on a block") << QByteArray(R"("block_id":4)") << false << "On a block";
}

void TestCommentsPanel::contextLineAsDrawn()
{
    QFETCH(QByteArray, comment);
    QFETCH(bool, quote);
    QFETCH(QString, text);

    const QByteArray body = R"({"comments":[{"id":1,"page_id":)" + QByteArray::number(m_pageServerID) +
                            R"(,"body":"b","user_name":"Ann","created_at":"x",)" + comment + "}]}";
    m_fake.setFault(kComments, FakeService::Fault::http(200, body));
    auto panel = openPanel();
    waitLoaded(*panel);
    QCOMPARE(panel->cards().size(), 1);
    QWidget *card = panel->cards().first();
    auto *line = card->findChild<QLabel *>(QStringLiteral("context"));
    QVERIFY(line);
    QTRY_VERIFY(line->width() > 0);
    auto *bar = card->findChild<QFrame *>(QStringLiteral("quoteBar"));
    auto *symbol = card->findChild<QLabel *>(QStringLiteral("contextSymbol"));
    if (quote) {
        // A thin bar down the quote's left, the quote at most two lines.
        QVERIFY(bar && !symbol);
        QCOMPARE(bar->width(), 2);
        QTRY_VERIFY(bar->geometry().right() < line->geometry().left());
        QVERIFY(bar->height() >= QFontMetrics(line->font()).height());
        QVERIFY(line->font().italic());
        QVERIFY(line->text().count(QLatin1Char('\n')) <= 1);
        QVERIFY(line->height() <= 2 * QFontMetrics(line->font()).lineSpacing() + 2);
        if (text.isEmpty())
            QVERIFY(line->text().endsWith(QChar(0x2026)));
        else
            QCOMPARE(line->text(), text);
    } else {
        // The label after its symbol.
        QVERIFY(symbol && !bar);
        QVERIFY(!symbol->pixmap().isNull());
        QTRY_VERIFY(symbol->geometry().right() < line->geometry().left());
        QCOMPARE(line->text(), text);
    }
}

void TestCommentsPanel::spinnerStandsBeforePostWhilePosting()
{
    auto panel = openPanel();
    waitLoaded(*panel);
    QVERIFY(panel->postButton()->icon().isNull());
    m_fake.setFault(kComments, FakeService::Fault::delay(300));
    type(*panel, QStringLiteral("hello"));
    QTest::mouseClick(panel->postButton(), Qt::LeftButton);
    QVERIFY(panel->model().isPosting());
    QVERIFY(!panel->postButton()->icon().isNull());
    QCOMPARE(panel->postButton()->text(), QStringLiteral("Post"));
    QVERIFY(!panel->postButton()->isEnabled());
    QTRY_COMPARE(panel->cards().size(), 1);
    QVERIFY(!panel->model().isPosting());
    QVERIFY(panel->postButton()->icon().isNull());
}

void TestCommentsPanel::composerGrowsWithItsText_data()
{
    QTest::addColumn<int>("lines");
    QTest::addColumn<int>("shown");
    QTest::newRow("empty") << 0 << 2;
    QTest::newRow("one line") << 1 << 2;
    QTest::newRow("four lines") << 4 << 4;
    QTest::newRow("six lines") << 6 << 6;
    QTest::newRow("nine lines") << 9 << 6;
}

void TestCommentsPanel::composerGrowsWithItsText()
{
    QFETCH(int, lines);
    QFETCH(int, shown);
    auto panel = openPanel();
    panel->resize(CommentsPanel::kWidth, 700);
    QPlainTextEdit *composer = panel->composer();
    const int empty = composer->height();
    QStringList text;
    for (int i = 0; i < lines; ++i)
        text << QStringLiteral("line %1").arg(i);
    type(*panel, text.join(u'\n'));
    QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
    const qreal line = QFontMetricsF(composer->font()).lineSpacing();
    // Two lines when empty; each line more adds one line's height, up to six.
    QVERIFY(qAbs(composer->height() - empty - (shown - 2) * line) <= 1);
    QCOMPARE(composer->verticalScrollBar()->maximum() > 0, lines > 6);
    QVERIFY(empty < 4 * line);
}

QTEST_MAIN(TestCommentsPanel)
#include "tst_comments_panel.moc"
