#include "editor/block_row.h"
#include "editor/rich_text_editor.h"
#include "editor_fixture.h"
#include "page_view_fixture.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

// Return at the start of a line, typed in the page view while another device of the account edits
// the same lines: the line keeps its block, and with it its comments and the other device's edit.
class TestPageReturn : public QObject, private PageViewFixture
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void returnAtALineStartKeepsTheLine_data();
    void returnAtALineStartKeepsTheLine();
    void bothDevicesInsertAboveTheFirstLine();

private:
    // A synced page of the lines, spaced apart, on this device and on `other`; their local ids here.
    QStringList sharedLines(const FNPage &page, const QStringList &texts, TestDevice &other);
    // The page open in an active window, as a user opens it.
    static std::unique_ptr<PageView> openActiveView(AppContext context, const QString &pageLocalID);
    // Return at the start of the line, on the view's device; the caret is checked to stay there.
    static bool returnAtStart(PageView &view, const QString &localID);
    QStringList serviceTexts(qint64 pageServerID) const;
    static QStringList deviceTexts(const TestDevice &device, const QString &pageLocalID);
    static const FNBlock *withServerID(TestDevice &device, qint64 serverID);
};

void TestPageReturn::initTestCase()
{
    QVERIFY(startService());
}

void TestPageReturn::init()
{
    openDevice();
}

void TestPageReturn::cleanup()
{
    closeDevice();
}

QStringList TestPageReturn::sharedLines(const FNPage &page, const QStringList &texts, TestDevice &other)
{
    QStringList ids;
    for (qsizetype i = 0; i < texts.size(); ++i)
        ids << m_device->addBlock(page.localID, texts[i], 1024 * i).localID;
    if (!m_device->queueBlockUpsert(page.localID) || !m_device->sync() || !other.sync())
        return {};
    return ids;
}

std::unique_ptr<PageView> TestPageReturn::openActiveView(AppContext context, const QString &pageLocalID)
{
    auto view = std::make_unique<PageView>(context, pageLocalID, nullptr, EditorSteps::fastTiming());
    QSignalSpy loaded(&view->model(), &PageViewModel::blocksLoaded);
    view->resize(700, 600);
    view->show();
    if (loaded.isEmpty() && !loaded.wait(5000))
        return nullptr;
    QApplication::setActiveWindow(view.get());
    if (!QTest::qWaitForWindowActive(view.get()) || !QTest::qWaitFor([&] { return view->isLaidOut(); }))
        return nullptr;
    return view;
}

bool TestPageReturn::returnAtStart(PageView &view, const QString &localID)
{
    RichTextEditor *editor = view.row(localID)->richEditor();
    if (!EditorFixture::focusOn(editor))
        return false;
    QTest::keyClick(editor, Qt::Key_End);
    QTest::keyClick(editor, Qt::Key_Home);
    const size_t before = view.model().blocks().topLevelBlocks().size();
    QTest::keyClick(keyboard(), Qt::Key_Return);
    // The caret stays at the start of the line, as in any editor.
    return QTest::qWaitFor([&] { return view.model().blocks().topLevelBlocks().size() == before + 1; }) &&
           keyboard() == editor && editor->textCursor().position() == 0;
}

QStringList TestPageReturn::serviceTexts(qint64 pageServerID) const
{
    QStringList texts;
    for (const FakeServiceState::Block &block : m_fake.storedBlocks(pageServerID))
        texts << textOf(block);
    return texts;
}

QStringList TestPageReturn::deviceTexts(const TestDevice &device, const QString &pageLocalID)
{
    QStringList texts;
    for (const FNBlock &block : device.liveBlocks(pageLocalID))
        texts << TestDevice::textOf(block);
    return texts;
}

const FNBlock *TestPageReturn::withServerID(TestDevice &device, qint64 serverID)
{
    return device.store().liveBlockWithServerID(serverID);
}

void TestPageReturn::returnAtALineStartKeepsTheLine_data()
{
    QTest::addColumn<bool>("otherFirst"); // the other device's edit reaches the service first
    QTest::newRow("other device's edit lands first") << true;
    QTest::newRow("this device's new line lands first") << false;
}

// Home on "r2", Return, Up, a line typed: the new line is a block of its own above r2, and r2's
// block, its comment and what another device wrote into it meanwhile stay together, on every
// device and on the service. Only the new block goes out.
void TestPageReturn::returnAtALineStartKeepsTheLine()
{
    QFETCH(bool, otherFirst);
    TestDevice other(m_fake.origin(), m_fake.issueToken(m_account.userId, "laptop"));
    const FNPage page = syncedPage("Return");
    const QStringList ids = sharedLines(page, {"r1", "r2", "r3"}, other);
    QVERIFY(!ids.isEmpty());
    const qint64 pageID = serverIDOf(page.localID);
    const qint64 r2ID = m_device->block(ids[1])->serverID;
    FakeServiceState::Comment comment;
    comment.id = m_fake.state().nextCommentId++;
    comment.pageId = pageID;
    comment.blockId = r2ID;
    comment.body = QStringLiteral("about r2");
    m_fake.state().comments[comment.id] = comment;

    m_device->setToken(std::nullopt); // what is typed waits in the outbox until the cycle below
    auto view = openActiveView(context(), page.localID);
    QVERIFY(view);
    QVERIFY(returnAtStart(*view, ids[1]));
    QCOMPARE(TestDevice::textOf(*m_device->block(ids[1])), QStringLiteral("r2"));
    QTest::keyClick(keyboard(), Qt::Key_Up);
    QTest::keyClicks(keyboard(), "New line above r2");
    QCOMPARE(view->row(ids[1])->richEditor()->toRawText(), QStringLiteral("r2"));
    const QStringList typed{"r1", "New line above r2", "r2", "r3"};
    QTRY_COMPARE(deviceTexts(*m_device, page.localID), typed);

    const auto otherEdits = [&] {
        const FNBlock *r2 = withServerID(other, r2ID);
        QVERIFY(r2);
        other.setBlockText(r2->localID, "r2 fixed by B");
        QVERIFY(other.queueBlockUpsert(r2->pageLocalID));
        QVERIFY(other.sync());
    };
    QTRY_VERIFY(!outboxOf("block", "upsert").empty());
    if (otherFirst)
        otherEdits();
    m_fake.clearRequests();
    m_device->setToken(m_account.token);
    QVERIFY(m_device->sync());
    // The new line alone goes out: r2 is not written again.
    size_t sent = 0;
    for (const HttpRequest &request : m_fake.requestsTo(kBlocksPath)) {
        const QJsonArray blocks = QJsonDocument::fromJson(request.body).object().value("blocks").toArray();
        sent += blocks.size();
        for (const QJsonValue &block : blocks)
            QVERIFY2(block.toObject().value("id").toInteger() != r2ID, request.body.constData());
    }
    QCOMPARE(sent, size_t(1));
    if (!otherFirst)
        otherEdits();
    QVERIFY(m_device->sync());
    QVERIFY(other.sync());

    const QStringList expected{"r1", "New line above r2", "r2 fixed by B", "r3"};
    QCOMPARE(serviceTexts(pageID), expected);
    QCOMPARE(deviceTexts(*m_device, page.localID), expected);
    const FNBlock *r2Here = withServerID(*m_device, r2ID);
    QVERIFY(r2Here);
    QCOMPARE(r2Here->localID, ids[1]);
    QTRY_COMPARE(view->row(ids[1])->richEditor()->toRawText(), QStringLiteral("r2 fixed by B"));
    QCOMPARE(deviceTexts(other, withServerID(other, r2ID)->pageLocalID), expected);
    // The comment is still on the line it was written about.
    const auto &stored = m_fake.state().blocks;
    QVERIFY(stored.count(comment.blockId));
    QCOMPARE(textOf(stored.at(comment.blockId)), QStringLiteral("r2 fixed by B"));
}

// Both devices press Return at the start of the first line and type a line there: both lines stay,
// above the one first line.
void TestPageReturn::bothDevicesInsertAboveTheFirstLine()
{
    TestDevice other(m_fake.origin(), m_fake.issueToken(m_account.userId, "tablet"));
    const FNPage page = syncedPage("Top");
    const QStringList ids = sharedLines(page, {"r1", "r2"}, other);
    QVERIFY(!ids.isEmpty());
    const qint64 pageID = serverIDOf(page.localID);
    const qint64 r1ID = m_device->block(ids[0])->serverID;

    const auto typeAboveFirst = [&](TestDevice &device, const QString &line) {
        const FNBlock *r1 = withServerID(device, r1ID);
        QVERIFY(r1);
        const QString localID = r1->localID;
        auto view = openActiveView(device.context(), r1->pageLocalID);
        QVERIFY(view);
        QVERIFY(returnAtStart(*view, localID));
        QTest::keyClick(keyboard(), Qt::Key_Up);
        QTest::keyClicks(keyboard(), line);
        QTRY_COMPARE(deviceTexts(device, view->model().pageLocalID()).first(), line);
        view.reset(); // closing the page flushes what it holds
    };
    // Neither has seen the other's line: both type while away from the service.
    const QString otherToken = m_fake.issueToken(m_account.userId, "tablet again");
    m_device->setToken(std::nullopt);
    other.setToken(std::nullopt);
    typeAboveFirst(*m_device, "above by A");
    typeAboveFirst(other, "above by B");
    m_device->setToken(m_account.token);
    other.setToken(otherToken);
    QVERIFY(m_device->sync());
    QVERIFY(other.sync());
    QVERIFY(m_device->sync());

    const QStringList service = serviceTexts(pageID);
    QCOMPARE(service.size(), 4);
    QCOMPARE(service.mid(2), (QStringList{"r1", "r2"}));
    QVERIFY2(service.contains("above by A") && service.contains("above by B"),
             qPrintable(service.join(", ")));
    QCOMPARE(deviceTexts(*m_device, page.localID), service);
    QCOMPARE(deviceTexts(other, withServerID(other, r1ID)->pageLocalID), service);
}

QTEST_MAIN(TestPageReturn)
#include "tst_page_return.moc"
