#include "fake-service/fake_service.h"
#include "store/create_adoption.h"
#include "store/outbox.h"
#include "support/test_device.h"

#include <QTest>

// Two devices of one account make look-alike records while one device's create reply is lost: the
// device never takes the other's record for its own, so renames and deletes stay on their own records.
class TestSyncLookAlikes : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void lostReplyNeverMergesLookAlikes_data();
    void lostReplyNeverMergesLookAlikes();
    void aPageListedTwiceInOnePullIsTakenOnce();
    void aDeletedFolderNeverTakesALookAlike_data();
    void aDeletedFolderNeverTakesALookAlike();

private:
    std::unique_ptr<TestDevice> device();
    void advancePastRetries(TestDevice &d);

    // Named `name` at the top level, its create queued.
    static QString addFolder(TestDevice &d, qint64 workspaceId, const QString &name);
    int foldersOnService(const QString &name);

    QDateTime m_now;
    FakeService m_fake;
    FakeService::Account m_account;
};

void TestSyncLookAlikes::initTestCase()
{
    QVERIFY(m_fake.start());
    m_account = m_fake.createAccount("alike@example.com", "secret12", "Alike");
}

void TestSyncLookAlikes::init()
{
    m_fake.clearFaults();
    m_now = QDateTime(QDate(2026, 3, 1), QTime(12, 0), Qt::UTC);
}

std::unique_ptr<TestDevice> TestSyncLookAlikes::device()
{
    auto d = std::make_unique<TestDevice>(m_fake.origin(), m_account.token);
    d->engine().setClock([this] { return m_now; });
    return d;
}

void TestSyncLookAlikes::advancePastRetries(TestDevice &d)
{
    for (const FNSyncOp &op : d.store().state().outbox) {
        if (op.nextRetryAt && *op.nextRetryAt > m_now)
            m_now = *op.nextRetryAt;
    }
}

namespace {

// One kind of record, as the tests below make, rename and read it.
struct Kind {
    bool folder = false;

    QString path() const
    {
        return folder ? QStringLiteral("/api/folders.php") : QStringLiteral("/api/pages.php");
    }

    QString create(TestDevice &d, qint64 workspaceId) const
    {
        if (!folder)
            return d.addPage(workspaceId, QStringLiteral("Untitled")).localID;
        FNFolder f;
        f.workspaceServerID = workspaceId;
        f.name = QStringLiteral("New folder");
        d.store().upsertFolder(f);
        Outbox::of(d.store()).folderCreate(f);
        return f.localID;
    }

    qint64 serverID(TestDevice &d, const QString &localID) const
    {
        if (folder)
            return d.store().folder(localID) ? d.store().folder(localID)->serverID : 0;
        return d.page(localID) ? d.page(localID)->serverID : 0;
    }

    void rename(TestDevice &d, const QString &localID, const QString &name) const
    {
        if (folder) {
            FNFolder f = *d.store().folder(localID);
            f.name = name;
            d.store().upsertFolder(f);
            FolderPatchReq patch;
            patch.name = name;
            Outbox::of(d.store()).folderUpdate(f, patch);
            return;
        }
        d.store().editPage(localID, [&](FNPage &p) { p.title = name; });
        PagePatchReq patch;
        patch.title = name;
        d.queuePageUpdate(localID, patch);
    }

    QString serviceName(FakeService &fake, qint64 id) const
    {
        if (folder)
            return fake.state().folders.count(id) ? fake.state().folders[id].name : QString();
        return fake.state().pages.count(id) ? fake.state().pages[id].title : QString();
    }
};

} // namespace

void TestSyncLookAlikes::lostReplyNeverMergesLookAlikes_data()
{
    QTest::addColumn<bool>("folder");
    QTest::newRow("folders") << true;
    QTest::newRow("pages") << false;
}

void TestSyncLookAlikes::lostReplyNeverMergesLookAlikes()
{
    QFETCH(bool, folder);
    const Kind kind{folder};
    auto a = device();
    auto b = device();

    // A's create is applied, its reply lost; A does not learn of it from a pull either.
    const QString mine = kind.create(*a, m_account.workspaceId);
    auto lost = FakeService::Fault::applyThenDrop();
    lost.remaining = 1;
    m_fake.setFault(kind.path(), lost);
    m_fake.setFault("/api/sync.php", FakeService::Fault::http(503, "{}"));
    a->sync();
    m_fake.clearFaults();
    QCOMPARE(kind.serverID(*a, mine), 0);

    // B makes its own look-alike meanwhile.
    const QString theirs = kind.create(*b, m_account.workspaceId);
    QVERIFY(b->sync());
    const qint64 theirID = kind.serverID(*b, theirs);
    QVERIFY(theirID != 0);

    advancePastRetries(*a);
    QVERIFY(a->sync());
    QVERIFY(a->sync());
    const qint64 myID = kind.serverID(*a, mine);
    QVERIFY(myID != 0);
    QVERIFY2(myID != theirID, "A took B's record for its own");

    kind.rename(*a, mine, QStringLiteral("A's own"));
    kind.rename(*b, theirs, QStringLiteral("B's own"));
    for (int round = 0; round < 3; ++round) {
        QTRY_VERIFY(!a->engine().isSyncing() && !b->engine().isSyncing());
        a->sync();
        b->sync();
    }
    QVERIFY(a->store().state().outbox.empty() && b->store().state().outbox.empty());
    QCOMPARE(kind.serviceName(m_fake, myID), QStringLiteral("A's own"));
    QCOMPARE(kind.serviceName(m_fake, theirID), QStringLiteral("B's own"));

    if (folder)
        return; // a folder's delete is a direct call on its own id
    a->queuePageDelete(mine);
    QVERIFY(a->sync());
    QVERIFY(b->sync());
    QVERIFY(m_fake.state().pages[myID].deletedAt.isValid());
    QVERIFY2(!m_fake.state().pages[theirID].deletedAt.isValid(), "A's delete trashed B's page");
    QVERIFY(!b->page(theirs)->deletedAt);
}

QString TestSyncLookAlikes::addFolder(TestDevice &d, qint64 workspaceId, const QString &name)
{
    FNFolder f;
    f.workspaceServerID = workspaceId;
    f.name = name;
    d.store().upsertFolder(f);
    Outbox::of(d.store()).folderCreate(f);
    return f.localID;
}

int TestSyncLookAlikes::foldersOnService(const QString &name)
{
    int count = 0;
    for (const auto &[id, f] : m_fake.state().folders)
        count += f.workspaceId == m_account.workspaceId && f.name == name ? 1 : 0;
    return count;
}

// A's create of a named page lands with its reply lost; B moves the page into a folder before A hears
// of it. A's next pull, its create waiting out its retry, brings the page twice (made, then moved):
// still one record, A's own.
void TestSyncLookAlikes::aPageListedTwiceInOnePullIsTakenOnce()
{
    const QString title = QStringLiteral("Receipts");
    auto a = device();
    auto b = device();
    const QString mine = a->addPage(m_account.workspaceId, title).localID;
    auto lost = FakeService::Fault::applyThenDrop();
    lost.remaining = 1;
    m_fake.setFault("/api/pages.php", lost);
    m_fake.setFault("/api/sync.php", FakeService::Fault::http(503, "{}"));
    a->sync();
    m_fake.clearFaults();
    QCOMPARE(a->page(mine)->serverID, 0);

    QVERIFY(b->sync());
    const auto onB = std::find_if(b->store().state().pages.begin(), b->store().state().pages.end(),
                                  [&](const FNPage &p) { return p.title == title; });
    QVERIFY(onB != b->store().state().pages.end());
    const FNPage page = *onB;
    const QString shelf = addFolder(*b, m_account.workspaceId, QStringLiteral("Shelf"));
    QVERIFY(b->sync());
    const qint64 shelfID = b->store().folder(shelf)->serverID;
    b->store().editPage(page.localID, [&](FNPage &p) { p.folderServerID = shelfID; });
    Outbox::of(b->store()).pageMove(page, shelfID);
    QVERIFY(b->sync());

    QVERIFY(a->sync());
    QCOMPARE(a->page(mine)->serverID, page.serverID);
    advancePastRetries(*a);
    QVERIFY(a->sync());
    QVERIFY(a->sync());
    QVERIFY(a->store().state().outbox.empty());
    int here = 0;
    for (const FNPage &p : a->store().state().pages)
        here += p.title == title ? 1 : 0;
    QCOMPARE(here, 1);
    int there = 0;
    for (const auto &[id, p] : m_fake.state().pages)
        there += p.workspaceId == m_account.workspaceId && p.title == title ? 1 : 0;
    QCOMPARE(there, 1);
}

void TestSyncLookAlikes::aDeletedFolderNeverTakesALookAlike_data()
{
    QTest::addColumn<bool>("landed");
    QTest::addColumn<bool>("withPage");
    for (const bool landed : {false, true}) {
        const char *how = landed ? "answer lost" : "reset before the service read it";
        QTest::addRow("%s", how) << landed << false;
        QTest::addRow("%s, a page in the other folder", how) << landed << true;
    }
}

// A's create of "Taxes" goes unanswered; B makes its own "Taxes" at the top level meanwhile (and puts
// a page in it); A deletes its folder. Nothing tells whether the listed look-alike is A's copy or
// B's folder, so A's delete takes neither.
void TestSyncLookAlikes::aDeletedFolderNeverTakesALookAlike()
{
    QFETCH(bool, landed);
    QFETCH(bool, withPage);
    const QString name = QStringLiteral("Taxes ") + QString::fromLatin1(QTest::currentDataTag());
    auto a = device();
    auto b = device();
    const QString mine = addFolder(*a, m_account.workspaceId, name);
    auto cut = landed ? FakeService::Fault::applyThenDrop() : FakeService::Fault::drop();
    cut.remaining = 1;
    m_fake.setFault("/api/folders.php", cut);
    m_fake.setFault("/api/sync.php", FakeService::Fault::http(503, "{}"));
    a->sync();
    m_fake.clearFaults();
    QCOMPARE(foldersOnService(name), landed ? 1 : 0);

    const QString theirs = addFolder(*b, m_account.workspaceId, name);
    QVERIFY(b->sync());
    const qint64 theirID = b->store().folder(theirs)->serverID;
    QVERIFY(theirID != 0);
    qint64 pageID = 0;
    if (withPage) {
        const FNPage page = b->addPage(m_account.workspaceId, QStringLiteral("Return"));
        QVERIFY(b->sync());
        pageID = b->page(page.localID)->serverID;
        b->store().editPage(page.localID, [&](FNPage &p) { p.folderServerID = theirID; });
        Outbox::of(b->store()).pageMove(*b->page(page.localID), theirID);
        QVERIFY(b->sync());
    }

    a->store().markFolderDeleted(mine);
    Outbox::of(a->store()).folderDelete(mine, std::chrono::milliseconds(0));
    // Nor does a listing read meanwhile (the sidebar's) give A's deleted folder B's id to delete.
    std::vector<ListedFolder> listed;
    for (const auto &[id, f] : m_fake.state().folders) {
        if (f.workspaceId == m_account.workspaceId)
            listed.push_back({id, f.workspaceId, f.parentFolderId, f.name, f.createdAt.toUTC()});
    }
    QVERIFY(folderAdoptions(a->store(), listed).isEmpty());
    advancePastRetries(*a);
    QVERIFY(a->sync());
    QVERIFY(a->sync());
    QVERIFY(a->store().state().outbox.empty());
    QVERIFY2(m_fake.state().folders.count(theirID), "A's delete took B's folder");
    QCOMPARE(foldersOnService(name), landed ? 2 : 1);
    if (withPage)
        QCOMPARE(m_fake.state().pages.at(pageID).folderId, theirID);
}

QTEST_MAIN(TestSyncLookAlikes)
#include "tst_sync_look_alikes.moc"
