// The fake service's demo data set, as a device that signs in with the demo account meets it: pulled
// by the app's own sync, read through the app's own wire types.
#include "api/wire/auth.h"
#include "api/wire/blocks.h"
#include "api/wire/collab.h"
#include "api/wire/databases.h"
#include "api/wire/folders.h"
#include "blocks/block_content.h"
#include "blocks/block_type.h"
#include "blocks/drawing_stroke.h"
#include "fake-service/fake_demo_data.h"
#include "fake-service/fake_upload_routes.h"
#include "support/fake_http_client.h"
#include "support/task_outcome.h"
#include "support/test_device.h"

#include <QImage>
#include <QNetworkReply>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>
#include <QUrl>

#include <memory>

namespace {

JSONObject contentOf(const FNBlock &block)
{
    return BlockContent::decode(block.contentJSON);
}

} // namespace

class TestFakeDemoData : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void printedAccountSignsIn();
    void everyStoredBlockArrives();
    void everyKindArrives_data();
    void everyKindArrives();
    void referencesResolve_data();
    void referencesResolve();
    void mediaIsServed_data();
    void mediaIsServed();
    void pagesSitInTheirFolders();
    void sharedPageReachesItsHoldersOnly();
    void versionsPublicationCommentAndSuggestion();
    void databaseRowsRead();

private:
    // Signs the device in as the demo's own sign-in screen would, then pulls once.
    qint64 signIn(TestDevice &device, const FakeDemoData::Login &login);
    const FNPage &pageTitled(const QString &title);
    const FNBlock &firstOfKind(const QString &type);

    std::unique_ptr<FakeService> m_fake;
    FakeDemoData::Seeded m_demo;
    std::unique_ptr<TestDevice> m_device;
    qint64 m_workspace = 0;
};

void TestFakeDemoData::init()
{
    m_fake = std::make_unique<FakeService>();
    QVERIFY(m_fake->start());
    m_demo = FakeDemoData::seed(*m_fake);
    m_device = std::make_unique<TestDevice>(m_fake->origin());
    m_workspace = signIn(*m_device, m_demo.owner);
    QVERIFY(m_workspace != 0);
}

void TestFakeDemoData::cleanup()
{
    m_device.reset();
    m_fake.reset();
}

qint64 TestFakeDemoData::signIn(TestDevice &device, const FakeDemoData::Login &login)
{
    AuthLoginReq body{login.email, login.password, QStringLiteral("test")};
    const auto reply = runTask(device.client().login(std::move(body)));
    if (!reply.ok())
        return 0;
    device.session().signIn(reply.value->token, reply.value->user);
    return device.sync() ? reply.value->workspace_id.value_or(0) : 0;
}

const FNPage &TestFakeDemoData::pageTitled(const QString &title)
{
    for (const FNPage &p : m_device->store().state().pages) {
        if (p.title == title && !p.deletedAt)
            return p;
    }
    qFatal("no page titled %s", qPrintable(title));
}

const FNBlock &TestFakeDemoData::firstOfKind(const QString &type)
{
    for (const FNBlock &b : m_device->store().state().blocks) {
        if (b.type == type && !b.deletedAt)
            return b;
    }
    qFatal("no block of kind %s", qPrintable(type));
}

void TestFakeDemoData::printedAccountSignsIn()
{
    QProcess fake;
    fake.start(QStringLiteral(PENROOST_FAKE_SERVICE_BINARY),
               {QStringLiteral("--port"), QStringLiteral("0"), QStringLiteral("--demo")});
    QVERIFY(fake.waitForStarted());
    QString printed;
    while (printed.count(QLatin1Char('\n')) < 4 && fake.waitForReadyRead(10000))
        printed += QString::fromUtf8(fake.readAllStandardOutput());
    const auto origin =
        QRegularExpression(QStringLiteral("^fake-service listening on (\\S+)\\n")).match(printed);
    const auto account =
        QRegularExpression(QStringLiteral("sign in as (\\S+) with the password \"([^\"]+)\"")).match(printed);
    const auto published = QRegularExpression(QStringLiteral("published at (\\S+)")).match(printed);
    QVERIFY2(origin.hasMatch() && account.hasMatch() && published.hasMatch(), qPrintable(printed));

    TestDevice device(origin.captured(1));
    QVERIFY(signIn(device, {account.captured(1), account.captured(2), QString()}) != 0);
    QVERIFY(device.store().state().blocks.size() > 50);
    const QNetworkRequest request{QUrl(published.captured(1))};
    QNetworkAccessManager nam;
    std::unique_ptr<QNetworkReply> reply(nam.get(request));
    QTRY_VERIFY(reply->isFinished());
    QCOMPARE(reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), 200);
    QVERIFY(reply->readAll().contains("Trip to Lisbon"));
    fake.kill();
    fake.waitForFinished();
}

void TestFakeDemoData::everyStoredBlockArrives()
{
    int compared = 0;
    for (const auto &[id, stored] : m_fake->state().blocks) {
        const FNBlock *pulled = m_device->store().blockWithServerID(id);
        QVERIFY2(pulled && !pulled->deletedAt, qPrintable(QStringLiteral("block %1 missing").arg(id)));
        QCOMPARE(pulled->type, stored.type);
        QVERIFY2(contentOf(*pulled) == stored.content, qPrintable(stored.type + u' ' + pulled->contentJSON));
        QCOMPARE(pulled->position, stored.position);
        QCOMPARE(pulled->parentBlockServerID, stored.parentBlockId);
        QCOMPARE(pulled->pageServerID, stored.pageId);
        ++compared;
    }
    QVERIFY(compared > 50);
    QCOMPARE(m_device->store().state().pages.size(), m_fake->state().pages.size());
}

void TestFakeDemoData::everyKindArrives_data()
{
    QTest::addColumn<QString>("type");
    for (const BlockType type : BlockType::allCases())
        QTest::newRow(qPrintable(type.rawValue())) << type.rawValue();
}

void TestFakeDemoData::everyKindArrives()
{
    QFETCH(QString, type);
    const FNBlock &block = firstOfKind(type);
    const JSONObject content = contentOf(block);
    // Kinds whose view has nothing to read hold nothing; every other one holds what its view shows.
    const QStringList empty{QStringLiteral("divider"), QStringLiteral("toc"), QStringLiteral("breadcrumbs")};
    QCOMPARE(content.empty(), empty.contains(type));
    for (const auto &[key, value] : content)
        QVERIFY2(!(value.isString() && value.toString().isEmpty()), qPrintable(type + u'.' + key));
}

void TestFakeDemoData::referencesResolve_data()
{
    QTest::addColumn<QString>("type");
    QTest::addColumn<QString>("key");
    QTest::newRow("page link") << QStringLiteral("mention") << QStringLiteral("page_id");
    QTest::newRow("synced block") << QStringLiteral("synced") << QStringLiteral("source_id");
    QTest::newRow("database") << QStringLiteral("database") << QStringLiteral("database_id");
}

void TestFakeDemoData::referencesResolve()
{
    QFETCH(QString, type);
    QFETCH(QString, key);
    for (const FNBlock &block : m_device->store().state().blocks) {
        if (block.type != type)
            continue;
        const std::optional<qint64> target = BlockContent::readOptionalInt(contentOf(block), key);
        QVERIFY(target);
        if (type == QLatin1String("mention")) {
            QVERIFY(m_device->store().pageWithServerID(*target));
            QVERIFY(*target != block.pageServerID);
        } else if (type == QLatin1String("synced")) {
            const FNBlock *source = m_device->store().blockWithServerID(*target);
            QVERIFY(source);
            QVERIFY(source->pageServerID != block.pageServerID);
            QVERIFY(TestDevice::textOf(*source).contains(QStringLiteral("14 March")));
        } else {
            const auto listed = runTask(m_device->client().listDatabases(block.pageServerID));
            QVERIFY(listed.ok());
            QCOMPARE(listed.value->databases.size(), size_t(1));
            QCOMPARE(listed.value->databases.front().id, *target);
        }
    }
}

void TestFakeDemoData::mediaIsServed_data()
{
    QTest::addColumn<QString>("type");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QByteArray>("mime");
    QTest::newRow("image") << QStringLiteral("image") << QStringLiteral("url") << QByteArray("image/png");
    QTest::newRow("bookmark's picture")
        << QStringLiteral("bookmark") << QStringLiteral("image") << QByteArray("image/png");
    QTest::newRow("audio") << QStringLiteral("audio") << QStringLiteral("url") << QByteArray("audio/wav");
    QTest::newRow("file") << QStringLiteral("file") << QStringLiteral("url") << QByteArray("text/markdown");
}

void TestFakeDemoData::mediaIsServed()
{
    QFETCH(QString, type);
    QFETCH(QString, key);
    QFETCH(QByteArray, mime);
    const JSONObject content = contentOf(firstOfKind(type));
    const QUrl url(BlockContent::readString(content, key));
    QCOMPARE(url.adjusted(QUrl::RemovePath).toString(), m_fake->origin());
    FakeHttpClient http(*m_fake);
    const FakeHttpClient::Reply reply = http.get(url.path(QUrl::FullyEncoded), QString());
    QCOMPARE(reply.status, 200);
    if (mime.startsWith("image/"))
        QVERIFY(!QImage::fromData(reply.body).isNull());
    else if (mime == "audio/wav")
        QVERIFY(reply.body.startsWith("RIFF") && reply.body.mid(8, 4) == "WAVE" && reply.body.size() > 20000);
    if (const auto size = BlockContent::readOptionalInt(content, QStringLiteral("size")))
        QCOMPARE(*size, reply.body.size());
    if (type == QLatin1String("bookmark")) {
        // Refreshing the card asks the service again, and gets the same preview.
        const auto preview = runTask(
            m_device->client().fetchBookmark(BlockContent::readString(content, QStringLiteral("url"))));
        QVERIFY(preview.ok());
        QCOMPARE(preview.value->title.value_or(QString()),
                 BlockContent::readString(content, QStringLiteral("title")));
        QCOMPARE(preview.value->image.value_or(QString()), url.toString());
    }
    const auto &files = FakeUploadRoutes::of(*m_fake).files();
    QVERIFY(std::any_of(files.begin(), files.end(), [&](const auto &f) { return f.second.mime == mime; }));
}

void TestFakeDemoData::pagesSitInTheirFolders()
{
    const auto listed = runTask(m_device->client().listFolders(m_workspace));
    QVERIFY(listed.ok());
    QHash<QString, qint64> folders;
    for (const FolderDTO &f : listed.value->folders)
        folders.insert(f.name, f.id);
    QCOMPARE(folders.size(), 2);
    QCOMPARE(pageTitled(QStringLiteral("Trip to Lisbon")).folderServerID,
             folders.value(QStringLiteral("Travel")));
    QCOMPARE(pageTitled(QStringLiteral("Project Kestrel")).folderServerID,
             folders.value(QStringLiteral("Work")));
    QCOMPARE(pageTitled(QStringLiteral("Welcome to Penroost")).folderServerID, 0);
    const FNPage &sintra = pageTitled(QStringLiteral("Day trip to Sintra"));
    QCOMPARE(sintra.parentPageServerID, pageTitled(QStringLiteral("Trip to Lisbon")).serverID);
    QVERIFY(!pageTitled(QStringLiteral("Trip to Lisbon")).coverURL.isEmpty());
    // The sketch reads back stroke for stroke, as the drawing block would write it.
    const QString svg =
        BlockContent::readString(contentOf(firstOfKind(QStringLiteral("drawing"))), QStringLiteral("svg"));
    const auto strokes = DrawingBlock::parseStrokes(svg);
    QVERIFY(strokes.size() >= 5);
    QCOMPARE(DrawingBlock::serializeStrokes(strokes), svg);
    // Columns hold their children; a toggle opens on its text.
    const FNBlock &columns = firstOfKind(QStringLiteral("columns"));
    int children = 0;
    for (const FNBlock &b : m_device->store().state().blocks)
        children += b.parentBlockServerID == columns.serverID ? 1 : 0;
    QCOMPARE(children, 4);
}

void TestFakeDemoData::sharedPageReachesItsHoldersOnly()
{
    const qint64 lisbon = pageTitled(m_demo.sharedTitle).serverID;
    const auto shares = runTask(m_device->client().listShares(lisbon));
    QVERIFY(shares.ok());
    QHash<QString, QString> roles;
    for (const ShareItemDTO &s : shares.value->shares)
        roles.insert(s.email, s.role.value_or(QString()));
    QCOMPARE(roles.value(m_demo.editor.email), QStringLiteral("edit"));
    QCOMPARE(roles.value(m_demo.suggester.email), QStringLiteral("suggest"));

    TestDevice sam(m_fake->origin());
    QVERIFY(signIn(sam, m_demo.editor) != 0);
    QVERIFY(!sam.store().pageWithServerID(lisbon)); // not a member of Maya's workspace
    const auto blocks = runTask(sam.client().fetchBlocks(lisbon));
    QVERIFY(blocks.ok());
    QCOMPARE(blocks.value->blocks.size(), m_fake->storedBlocks(lisbon).size());
    const auto refused =
        runTask(sam.client().fetchBlocks(pageTitled(QStringLiteral("Project Kestrel")).serverID));
    QVERIFY(refused.apiError());
}

void TestFakeDemoData::versionsPublicationCommentAndSuggestion()
{
    const qint64 lisbon = pageTitled(m_demo.sharedTitle).serverID;
    const auto versions = runTask(m_device->client().listVersions(lisbon));
    QVERIFY(versions.ok());
    QCOMPARE(versions.value->versions.size(), size_t(3));
    // Newest first, each older than the one before it.
    for (size_t i = 1; i < versions.value->versions.size(); ++i)
        QVERIFY(versions.value->versions[i].created_at < versions.value->versions[i - 1].created_at);
    // The last version is the page as it stands, so restoring the first one changes something.
    const auto &saved = m_fake->state().versions;
    const auto blocksIn = [](const FakeServiceState::Version &v) {
        return JSONValue(v.snapshot)[QStringLiteral("blocks")].toArray().size();
    };
    QCOMPARE(blocksIn(saved.rbegin()->second), m_fake->storedBlocks(lisbon).size());
    QVERIFY(blocksIn(saved.begin()->second) < 5);

    const auto publication = runTask(m_device->client().getPublish(lisbon));
    QVERIFY(publication.ok());
    QVERIFY(publication.value->published);
    QCOMPARE(publication.value->url.value_or(QString()), m_demo.publishedURL);

    // Inês, who may only suggest, proposes a change to a block the device holds.
    const auto suggestions = runTask(m_device->client().listSuggestions(lisbon));
    QVERIFY(suggestions.ok());
    QCOMPARE(suggestions.value->suggestions.size(), size_t(1));
    const SuggestionDTO &suggestion = suggestions.value->suggestions.front();
    QCOMPARE(suggestion.status, QStringLiteral("pending"));
    QCOMPARE(suggestion.user_name.value_or(QString()), m_demo.suggester.name);
    const FNBlock *target = m_device->store().blockWithServerID(suggestion.block_id.value_or(0));
    QVERIFY(target && target->pageServerID == lisbon);

    const auto comments = runTask(m_device->client().listComments(lisbon));
    QVERIFY(comments.ok());
    QCOMPARE(comments.value->comments.size(), size_t(1));
    QCOMPARE(comments.value->comments.front().user_name.value_or(QString()), m_demo.editor.name);
}

void TestFakeDemoData::databaseRowsRead()
{
    const FNBlock &block = firstOfKind(QStringLiteral("database"));
    const auto listed = runTask(m_device->client().listDatabases(block.pageServerID));
    QVERIFY(listed.ok() && !listed.value->databases.empty());
    const DatabaseDTO &db = listed.value->databases.front();
    QCOMPARE(db.name, QStringLiteral("Tasks"));
    QStringList columns;
    for (const DBColumnDTO &c : db.columns)
        columns.append(c.name + u':' + c.type);
    QCOMPARE(columns, (QStringList{QStringLiteral("Name:text"), QStringLiteral("Status:select"),
                                   QStringLiteral("Done:checkbox")}));
    QCOMPARE(db.rows.size(), size_t(5));
    for (const DBRowDTO &row : db.rows) {
        const JSONValue data(row.data);
        QVERIFY(!data[QStringLiteral("c1")].toString().isEmpty());
        QVERIFY(db.columns[1].options->size() == 3);
        const QString status = data[QStringLiteral("c2")].toString();
        QVERIFY(std::find(db.columns[1].options->begin(), db.columns[1].options->end(), status) !=
                db.columns[1].options->end());
        // A task is ticked exactly when its status says it is done.
        QCOMPARE(data[QStringLiteral("c3")].toBool(), status == QLatin1String("Done"));
    }
}

QTEST_MAIN(TestFakeDemoData)
#include "tst_fake_demo_data.moc"
