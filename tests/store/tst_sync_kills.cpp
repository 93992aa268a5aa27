#include "sent_kill_child.h"

// A device killed while a request of its outbox is out (sent, the service applied it, the answer
// not yet in or not yet saved) and launched again: the request counts as possibly arrived, so it
// neither writes over what another device wrote since nor makes its record twice.
class TestSyncKills : public QObject, private KilledChildFixture
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void anEditSentBeforeAKillKeepsTheNewerEdit_data();
    void anEditSentBeforeAKillKeepsTheNewerEdit();
    void aNamedCreateSentBeforeAKillIsMadeOnce_data();
    void aNamedCreateSentBeforeAKillIsMadeOnce();
    void aCreateRenamedOnItsWayIsMadeOnce_data();
    void aCreateRenamedOnItsWayIsMadeOnce();
    void aDefaultNamedCreateAnsweredBeforeAKillIsMadeOnce_data();
    void aDefaultNamedCreateAnsweredBeforeAKillIsMadeOnce();
    void aPageMadeInAFolderIsMadeOnce_data();
    void aPageMadeInAFolderIsMadeOnce();
    void aDeletedFolderTakesOnlyItsOwnCopy_data();
    void aDeletedFolderTakesOnlyItsOwnCopy();
    void aFieldFilledBeforeAKillKeepsTheOtherDevicesChange_data();
    void aFieldFilledBeforeAKillKeepsTheOtherDevicesChange();

private:
    // Runs A as a child in `mode` and kills it once the service has taken the request to `path`,
    // its answer held; `meanwhile` runs before the kill. The line it said.
    // `heard`: the answer is let through once `meanwhile` has run, and the kill comes once A has
    // gone on to its pull.
    QByteArray runAndKill(const QString &mode, const QString &path, const std::function<void()> &meanwhile,
                          bool heard = false);
    QHash<QString, QString> childEnvironment(const QString &mode) const;
    // A launched again on its folder, synced until its outbox is empty; `first` runs before its
    // first cycle.
    bool relaunchAndSync(const std::function<void(AppHarness &)> &check,
                         const std::function<void(AppHarness &)> &first = {});
    // The service's pages, or folders, of the account named `name`.
    int onService(bool folder, const QString &name);
    QStringList serviceTexts() const; // the page's, by position
};

void TestSyncKills::initTestCase()
{
    QVERIFY(m_fake.start());
}

QByteArray TestSyncKills::runAndKill(const QString &mode, const QString &path,
                                     const std::function<void()> &meanwhile, bool heard)
{
    FakeService::Fault held = FakeService::Fault::held();
    held.remaining = 1;
    held.method = "POST";
    m_fake.setFault(path, held);
    const qsizetype before = m_fake.requestsTo(path).size();

    QHash<QString, QString> environment = childEnvironment(mode);
    if (heard)
        environment.insert(QString::fromLatin1(kHeardVar), QStringLiteral("1"));
    const QByteArray line =
        KilledChild::runAndKill(environment, kWait, [&](const QByteArray &said) -> QByteArray {
            if (said != kSavedLine)
                return said;
            if (!QTest::qWaitFor([&] { return m_fake.requestsTo(path).size() > before; }, 2 * kWait))
                return "failed: nothing sent";
            if (meanwhile)
                meanwhile();
            if (heard) {
                const qsizetype pulls = m_fake.requestsTo(QStringLiteral("/api/sync.php")).size();
                m_fake.releaseHeldAnswers();
                if (!QTest::qWaitFor(
                        [&] { return m_fake.requestsTo(QStringLiteral("/api/sync.php")).size() > pulls; },
                        2 * kWait))
                    return "failed: the answer was not heard";
            }
            return said;
        });
    m_fake.clearFaults();
    m_fake.releaseHeldAnswers();
    return line;
}

QHash<QString, QString> TestSyncKills::childEnvironment(const QString &mode) const
{
    return {
        {QString::fromLatin1(kModeVar), mode},
        {QString::fromLatin1(kOriginVar), m_fake.origin()},
        {QString::fromLatin1(kTokenVar), m_account.token},
        {QString::fromLatin1(kUserVar), QString::number(m_account.userId)},
        {QString::fromLatin1(kFolderVar), m_folder->path()},
        {QString::fromLatin1(kWorkspaceVar), QString::number(m_account.workspaceId)},
        {QString::fromLatin1(kPageVar), QString::number(m_pageServerID)},
        {QString::fromLatin1(kBlockVar), QString::number(m_blockServerID)},
    };
}

bool TestSyncKills::relaunchAndSync(const std::function<void(AppHarness &)> &check,
                                    const std::function<void(AppHarness &)> &first)
{
    AppDevice device(m_fake.origin(), m_folder->path());
    AppHarness app(device);
    signIn(app, m_account.token, m_account.userId);
    if (first)
        first(app);
    for (int cycle = 0; cycle < 4; ++cycle) {
        if (!runTask(app.engine.syncNow()).ok())
            return false;
    }
    if (!app.store.state().outbox.empty())
        return false;
    check(app);
    return true;
}

int TestSyncKills::onService(bool folder, const QString &name)
{
    int count = 0;
    if (folder) {
        for (const auto &[id, f] : m_fake.state().folders)
            count += f.workspaceId == m_account.workspaceId && f.name == name ? 1 : 0;
    } else {
        for (const auto &[id, p] : m_fake.state().pages)
            count += p.workspaceId == m_account.workspaceId && p.title == name && !p.inTrash() ? 1 : 0;
    }
    return count;
}

QStringList TestSyncKills::serviceTexts() const
{
    QStringList texts;
    for (const FakeServiceState::Block &block : m_fake.storedBlocks(m_pageServerID))
        texts << FakeService::stringField(block.content, QStringLiteral("text"));
    return texts;
}

void TestSyncKills::anEditSentBeforeAKillKeepsTheNewerEdit_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addColumn<bool>("bBeforeTheKill");
    for (const char *mode : {"type", "add"}) {
        const char *what = qstrcmp(mode, "type") == 0 ? "typed into a block" : "a new block";
        QTest::addRow("%s, B types after the kill", what) << QString::fromLatin1(mode) << false;
        QTest::addRow("%s, B's edit lands before the kill", what) << QString::fromLatin1(mode) << true;
    }
}

// A's upsert is applied and A is killed before it saves how it went; B then types in the same block
// (or already has) and pushes. A launched again sends nothing over B's edit, and makes no second
// copy of a block it added.
void TestSyncKills::anEditSentBeforeAKillKeepsTheNewerEdit()
{
    QFETCH(QString, mode);
    QFETCH(bool, bBeforeTheKill);
    QVERIFY(seedAccount(QStringLiteral("sent"), QStringLiteral("Ann"), QStringLiteral("Budget"), kText));
    const QString pageB = m_other->pageWithServerID(m_pageServerID)->localID;
    const auto bTypes = [&] {
        QVERIFY(m_other->sync()); // brings A's edit
        QString target;
        for (const FNBlock &b : m_other->liveBlocks(pageB)) {
            if (TestDevice::textOf(b) == kByA)
                target = b.localID;
        }
        QVERIFY(!target.isEmpty());
        m_other->setBlockText(target, kByB);
        QVERIFY(m_other->queueBlockUpsert(pageB));
        QVERIFY(m_other->sync());
    };
    const QByteArray line = runAndKill(mode, kBlocks, [&] {
        if (bBeforeTheKill)
            bTypes();
    });
    QCOMPARE(line, kSavedLine);
    if (!bBeforeTheKill)
        bTypes();
    const QStringList meant = mode == QLatin1String("type") ? QStringList{kByB} : QStringList{kText, kByB};
    QCOMPARE(serviceTexts(), meant);

    QVERIFY(relaunchAndSync([&](AppHarness &a) {
        QStringList shown;
        for (const FNBlock *b : a.store.blocksOfPage(a.store.pageWithServerID(m_pageServerID)->localID)) {
            if (!b->deletedAt)
                shown << TestDevice::textOf(*b);
        }
        shown.sort();
        QCOMPARE(shown, meant);
    }));
    QCOMPARE(serviceTexts(), meant);
    QVERIFY(m_other->sync());
    QStringList onB;
    for (const FNBlock &b : m_other->liveBlocks(pageB))
        onB << TestDevice::textOf(b);
    QCOMPARE(onB, meant);
}

void TestSyncKills::aNamedCreateSentBeforeAKillIsMadeOnce_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("page") << QStringLiteral("page");
    QTest::newRow("folder") << QStringLiteral("folder");
}

// A's create of a named page or folder reaches the service and A is killed before its answer is
// saved: launched again, A takes the record the service made rather than make a second.
void TestSyncKills::aNamedCreateSentBeforeAKillIsMadeOnce()
{
    QFETCH(QString, kind);
    const bool page = kind == QLatin1String("page");
    QVERIFY(seedAccount(QStringLiteral("sent"), QStringLiteral("Ann"), QStringLiteral("Budget"), kText));
    QCOMPARE(runAndKill(kind, page ? kPages : kFolders, {}), kSavedLine);

    const auto named = [&] {
        int count = 0;
        if (page) {
            for (const auto &[id, p] : m_fake.state().pages)
                count += p.title == kNamed ? 1 : 0;
        } else {
            for (const auto &[id, f] : m_fake.state().folders)
                count += f.name == kNamed ? 1 : 0;
        }
        return count;
    };
    QCOMPARE(named(), 1);
    QVERIFY(relaunchAndSync([&](AppHarness &a) {
        int here = 0;
        if (page) {
            for (const FNPage &p : a.store.state().pages)
                here += p.title == kNamed && p.serverID != 0 ? 1 : 0;
        } else {
            for (const FNFolder &f : a.store.state().folders)
                here += f.name == kNamed && f.serverID != 0 ? 1 : 0;
        }
        QCOMPARE(here, 1);
    }));
    QCOMPARE(named(), 1);
}

void TestSyncKills::aCreateRenamedOnItsWayIsMadeOnce_data()
{
    QTest::addColumn<bool>("folder");
    QTest::addColumn<bool>("heard");
    for (const bool folder : {false, true}) {
        const char *kind = folder ? "folder" : "page";
        QTest::addRow("%s, killed before its answer", kind) << folder << false;
        QTest::addRow("%s, its answer heard, killed before the save", kind) << folder << true;
    }
}

// A renames its new page or folder while the create is out, and the rename is saved; A is killed
// before the answer is. Launched again, A takes the record the service made under the name that went
// out, and the rename follows it there.
void TestSyncKills::aCreateRenamedOnItsWayIsMadeOnce()
{
    QFETCH(bool, folder);
    QFETCH(bool, heard);
    QVERIFY(seedAccount(QStringLiteral("sent"), QStringLiteral("Ann"), QStringLiteral("Budget"), kText));
    const QString mode = folder ? QStringLiteral("renamed folder") : QStringLiteral("renamed page");
    QCOMPARE(runAndKill(mode, folder ? kFolders : kPages, {}, heard), kSavedLine);
    // Heard, the rename may have followed already.
    QCOMPARE(onService(folder, kNamed) + onService(folder, kRenamed), 1);

    QVERIFY(relaunchAndSync([&](AppHarness &a) {
        QStringList here;
        if (folder) {
            for (const FNFolder &f : a.store.state().folders)
                here << f.name + (f.serverID != 0 ? QString() : QStringLiteral(" (not sent)"));
        } else {
            for (const FNPage &p : a.store.state().pages) {
                if (p.serverID != m_pageServerID)
                    here << p.title + (p.serverID != 0 ? QString() : QStringLiteral(" (not sent)"));
            }
        }
        QCOMPARE(here, QStringList{kRenamed});
    }));
    QCOMPARE(onService(folder, kNamed), 0);
    QCOMPARE(onService(folder, kRenamed), 1);
}

void TestSyncKills::aDefaultNamedCreateAnsweredBeforeAKillIsMadeOnce_data()
{
    QTest::addColumn<bool>("folder");
    QTest::newRow("page") << false;
    QTest::newRow("folder") << true;
}

// A name every device gives tells nothing in a listing; the id the answer gave, noted as it came, does.
void TestSyncKills::aDefaultNamedCreateAnsweredBeforeAKillIsMadeOnce()
{
    QFETCH(bool, folder);
    QVERIFY(seedAccount(QStringLiteral("sent"), QStringLiteral("Ann"), QStringLiteral("Budget"), kText));
    const QString name = QString::fromLatin1(folder ? kNewFolderName : kNewPageTitle);
    const QString mode = folder ? QStringLiteral("new folder") : QStringLiteral("untitled page");
    QCOMPARE(runAndKill(mode, folder ? kFolders : kPages, {}, true), kSavedLine);
    QCOMPARE(onService(folder, name), 1);

    QVERIFY(relaunchAndSync([&](AppHarness &a) {
        if (folder) {
            QCOMPARE(a.store.state().folders.size(), size_t(1));
            QVERIFY(m_fake.state().folders.count(a.store.state().folders.front().serverID));
        } else {
            QCOMPARE(a.store.state().pages.size(), size_t(2));
            for (const FNPage &p : a.store.state().pages)
                QVERIFY(m_fake.state().pages.count(p.serverID));
        }
    }));
    QCOMPARE(onService(folder, name), 1);
}

void TestSyncKills::aPageMadeInAFolderIsMadeOnce_data()
{
    QTest::addColumn<bool>("listingFails");
    QTest::newRow("the relaunch's listing works") << false;
    QTest::newRow("the relaunch's listing fails once") << true;
}

// Made in a folder and named at once, its create and move sent in one cycle and both answered, A is
// killed before its next save. Launched again, A's page is the one the service made, in its folder.
void TestSyncKills::aPageMadeInAFolderIsMadeOnce()
{
    QFETCH(bool, listingFails);
    QVERIFY(seedAccount(QStringLiteral("sent"), QStringLiteral("Ann"), QStringLiteral("Budget"), kText));
    QCOMPARE(runAndKill(QStringLiteral("page in folder"), kPages, {}, true), kSavedLine);
    QCOMPARE(onService(false, kNamed), 1);
    if (listingFails) {
        FakeService::Fault busy = FakeService::Fault::http(503, "{\"error\":\"Busy.\"}");
        busy.method = "GET";
        busy.remaining = 1;
        m_fake.setFault(kPages, busy);
    }

    qint64 shelf = 0;
    for (const auto &[id, f] : m_fake.state().folders)
        shelf = f.workspaceId == m_account.workspaceId && f.name == kShelf ? id : shelf;
    QVERIFY(shelf != 0);
    QVERIFY(relaunchAndSync([&](AppHarness &a) {
        int named = 0;
        for (const FNPage &p : a.store.state().pages) {
            if (p.title != kNamed)
                continue;
            ++named;
            QVERIFY(m_fake.state().pages.count(p.serverID));
            QCOMPARE(p.folderServerID, shelf);
        }
        QCOMPARE(named, 1);
    }));
    m_fake.clearFaults();
    QCOMPARE(onService(false, kNamed), 1);
    for (const auto &[id, p] : m_fake.state().pages) {
        if (p.workspaceId == m_account.workspaceId && p.title == kNamed)
            QCOMPARE(p.folderId, shelf);
    }
}

void TestSyncKills::aDeletedFolderTakesOnlyItsOwnCopy_data()
{
    QTest::addColumn<bool>("heard");
    QTest::addColumn<bool>("withPage");
    for (const bool heard : {false, true}) {
        const char *answer = heard ? "its answer heard, killed before the save" : "killed before its answer";
        QTest::addRow("%s", answer) << heard << false;
        QTest::addRow("%s, a page in the other folder", answer) << heard << true;
    }
}

// While A's create of "Taxes" is out, B makes its own "Taxes" at the top level (and puts its page in
// it). A, launched again after a kill, deletes its folder: the delete takes A's copy when the answer
// named it, and never B's folder, which keeps its page.
void TestSyncKills::aDeletedFolderTakesOnlyItsOwnCopy()
{
    QFETCH(bool, heard);
    QFETCH(bool, withPage);
    QVERIFY(seedAccount(QStringLiteral("sent"), QStringLiteral("Ann"), QStringLiteral("Budget"), kText));
    qint64 theirs = 0;
    const auto bMakesItsOwn = [&] {
        FNFolder f;
        f.name = kNamed;
        f.workspaceServerID = m_account.workspaceId;
        m_other->store().upsertFolder(f);
        Outbox::of(m_other->store()).folderCreate(f);
        QVERIFY(m_other->sync());
        theirs = m_other->store().folder(f.localID)->serverID;
        QVERIFY(theirs != 0);
        if (!withPage)
            return;
        const FNPage page = *m_other->pageWithServerID(m_pageServerID);
        m_other->store().editPage(page.localID, [&](FNPage &p) { p.folderServerID = theirs; });
        Outbox::of(m_other->store()).pageMove(page, theirs);
        QVERIFY(m_other->sync());
    };
    QCOMPARE(runAndKill(QStringLiteral("named folder"), kFolders, bMakesItsOwn, heard), kSavedLine);
    QVERIFY(theirs != 0);
    QCOMPARE(onService(true, kNamed), 2);

    QVERIFY(relaunchAndSync(
        [&](AppHarness &a) {
            for (const FNFolder &f : a.store.state().folders)
                QVERIFY2(f.serverID != theirs || !f.deletedAt, "B's folder deleted here");
        },
        [&](AppHarness &a) {
            QCOMPARE(a.store.state().folders.size(), size_t(1));
            const QString mine = a.store.state().folders.front().localID;
            a.store.markFolderDeleted(mine);
            Outbox::of(a.store).folderDelete(mine, 0ms);
        }));
    QVERIFY2(m_fake.state().folders.count(theirs), "A's delete took B's folder");
    // Unnamed by an answer, A's copy cannot be told from B's: it stays.
    QCOMPARE(onService(true, kNamed), heard ? 1 : 2);
    if (withPage)
        QCOMPARE(m_fake.state().pages.at(m_pageServerID).folderId, theirs);
    QVERIFY(m_other->sync());
    QVERIFY(m_other->store().folder(m_other->store().folderWithServerID(theirs)->localID));
    if (withPage)
        QCOMPARE(m_other->pageWithServerID(m_pageServerID)->folderServerID, theirs);
}

void TestSyncKills::aFieldFilledBeforeAKillKeepsTheOtherDevicesChange_data()
{
    QTest::addColumn<bool>("aTypes");
    QTest::addColumn<bool>("lands");
    QTest::newRow("A types, B drags") << true << true;
    QTest::newRow("A drags, B types") << false << true;
    // Nothing of A's change was saved, and its request never reached the service: nothing of it is
    // left to check either.
    QTest::newRow("A types, B drags, A's push lost") << true << false;
    QTest::newRow("A drags, B types, A's push lost") << false << false;
}

// A changes one field of the page's second block and syncs at once; its pull comes before B's
// change of another field of that block lands, so its push fills that field from A's copy and writes
// over B's change. A is killed right after the answer, before any save. Launched again, A puts B's
// change back: the block ends above the first with the text typed, on the service and both devices.
void TestSyncKills::aFieldFilledBeforeAKillKeepsTheOtherDevicesChange()
{
    QFETCH(bool, aTypes);
    QFETCH(bool, lands);
    QVERIFY(seedAccount(QStringLiteral("filled"), QStringLiteral("Ann"), QStringLiteral("Budget"), kText));
    const QString pageB = m_other->pageWithServerID(m_pageServerID)->localID;
    const QString second = m_other->addBlock(pageB, kSecond, 1024).localID;
    QVERIFY(m_other->queueBlockUpsert(pageB));
    QVERIFY(m_other->sync());
    m_blockServerID = m_other->block(second)->serverID;
    const QString typed = aTypes ? kByA : kByB;
    const QStringList meant = lands    ? QStringList{typed, kText}
                              : aTypes ? QStringList{kSecond, kText}
                                       : QStringList{kText, kByB};

    const QString go = m_folder->filePath(QStringLiteral("go"));
    QHash<QString, QString> environment =
        childEnvironment(QString::fromLatin1(aTypes ? "fill-type" : "fill-drag"));
    environment.insert(QString::fromLatin1(kGoVar), go);
    FakeService::Fault held = FakeService::Fault::held();
    held.remaining = 1;
    held.method = "POST";
    const QByteArray line =
        KilledChild::runAndKill(environment, kWait, [&](const QByteArray &said) -> QByteArray {
            if (said != kReadyLine)
                return said;
            // A's pull before its push is read now and answered once B's change has landed.
            m_fake.setFault(kFeed, held);
            const qsizetype feedBefore = m_fake.requestsTo(kFeed).size();
            const qsizetype pushesBefore = m_fake.requestsTo(kBlocks).size();
            QFile(go).open(QIODevice::WriteOnly);
            if (!QTest::qWaitFor([&] { return m_fake.requestsTo(kFeed).size() > feedBefore; }, 2 * kWait))
                return "failed: no pull before the push";
            if (aTypes) {
                m_other->store().editBlock(second, [](FNBlock &b) { b.position = kAbove; });
                Outbox::of(m_other->store()).blockEdited(pageB, second, BlockFields::Place);
            } else {
                m_other->setBlockText(second, kByB);
            }
            if (!m_other->queueBlockUpsert(pageB) || !m_other->sync())
                return "failed: B's change";
            // A's pull after its push comes once the push's answer is handled: the kill comes then.
            if (!lands) {
                FakeService::Fault lost = FakeService::Fault::drop();
                lost.remaining = 1;
                lost.method = "POST";
                m_fake.setFault(kBlocks, lost);
            }
            m_fake.setFault(kFeed, held);
            const qsizetype feedAfter = m_fake.requestsTo(kFeed).size();
            m_fake.releaseHeldAnswers();
            if (!QTest::qWaitFor([&] { return m_fake.requestsTo(kFeed).size() > feedAfter; }, 2 * kWait))
                return "failed: no pull after the push";
            return m_fake.requestsTo(kBlocks).size() > pushesBefore ? said : "failed: nothing pushed";
        });
    m_fake.clearFaults();
    m_fake.releaseHeldAnswers();
    QCOMPARE(line, kReadyLine);
    // A's push wrote its stale copy of the field B changed over B's change.
    if (lands)
        QVERIFY(serviceTexts() != meant);
    else
        QCOMPARE(serviceTexts(), meant);

    QVERIFY(relaunchAndSync([&](AppHarness &a) {
        std::vector<const FNBlock *> blocks =
            a.store.blocksOfPage(a.store.pageWithServerID(m_pageServerID)->localID);
        std::erase_if(blocks, [](const FNBlock *b) { return b->deletedAt.has_value(); });
        std::sort(blocks.begin(), blocks.end(),
                  [](const FNBlock *x, const FNBlock *y) { return x->position < y->position; });
        QStringList shown;
        for (const FNBlock *b : blocks)
            shown << TestDevice::textOf(*b);
        QCOMPARE(shown, meant);
        QVERIFY(a.store.state().fillChecks.empty());
    }));
    QCOMPARE(serviceTexts(), meant);
    QVERIFY(m_other->sync());
    QStringList onB;
    for (const FNBlock &b : m_other->liveBlocks(pageB))
        onB << TestDevice::textOf(b);
    QCOMPARE(onB, meant);
}

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    if (qEnvironmentVariableIsSet(kModeVar))
        return actAsDevice();
    TestSyncKills test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_sync_kills.moc"
