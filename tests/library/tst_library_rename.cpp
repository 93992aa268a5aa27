#include "library/library_list_view.h"
#include "library/library_refresher.h"
#include "library/library_row_editor.h"
#include "library/library_row_model.h"
#include "library_rows_fixture.h"
#include "support/task_outcome.h"

#include <QApplication>
#include <QLineEdit>
#include <QTest>

// Renaming folders and pages in place: what is stored and sent, and how the field ends.
class TestLibraryRename : public QObject, protected LibraryRowsFixture
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { startFake(); }
    void init() { initView(); }
    void cleanup() { cleanupView(); }

    void folderRename_data();
    void folderRename();
    void pageRenameQueuesOnlyTheTitle();
    void renameOfAnUnsyncedPageTravelsWithItsCreate();
    void renameFieldEndings();
    void renameOutlivesARebuild_data();
    void renameOutlivesARebuild();
};

void TestLibraryRename::folderRename_data()
{
    QTest::addColumn<QString>("draft");
    QTest::addColumn<QString>("stored");
    QTest::newRow("trimmed of spaces and newlines") << "  Plans \n"
                                                    << "Plans";
    QTest::newRow("only white space: unchanged") << " \n "
                                                 << "Projects";
    QTest::newRow("the same name: unchanged") << "Projects"
                                              << "Projects";
}

void TestLibraryRename::folderRename()
{
    QFETCH(QString, draft);
    QFETCH(QString, stored);
    LibraryRowEditor &editor = m_view->rowEditor();
    const FNFolder f = folder(QStringLiteral("Projects"), 41);
    const FNFolder other = folder(QStringLiteral("Other"), 42);

    QCOMPARE(editor.beginFolderRename(f.localID), QStringLiteral("Projects"));
    QVERIFY(m_view->refresher().isRenameInProgress());
    editor.commitFolderRename(f.localID, draft);
    QVERIFY(!editor.renamingFolderID());
    QVERIFY(!m_view->refresher().isRenameInProgress());
    const FNFolder after = m_app->storedFolder(f.localID);
    QCOMPARE(after.name, stored);
    QCOMPARE(after.updatedAt, f.updatedAt);

    // A later rename marks the end of the requests this one may have sent.
    editor.beginFolderRename(other.localID);
    editor.commitFolderRename(other.localID, QStringLiteral("Sentinel"));
    // Queued while the first rename's sync may still run: the next cycle carries it.
    QTRY_VERIFY(!m_app->engine.isSyncing());
    QVERIFY(runTask(m_app->engine.syncNow()).ok());
    QTRY_VERIFY(patchBodies().join(QString()).contains(QStringLiteral("Sentinel")));
    QStringList expected;
    if (stored != f.name)
        expected << QStringLiteral(R"({"folder_id":41,"name":"Plans"})");
    expected << QStringLiteral(R"({"folder_id":42,"name":"Sentinel"})");
    QCOMPARE(patchBodies(), expected);
}

void TestLibraryRename::pageRenameQueuesOnlyTheTitle()
{
    const FNPage p = page(QString(), 77);
    LibraryRowEditor &editor = m_view->rowEditor();
    QCOMPARE(editor.beginPageRename(p.localID), QString()); // an untitled page starts empty
    editor.commitPageRename(p.localID, QStringLiteral(" Weekly review "));
    const LocalStore &store = m_app->store;
    const FNPage after = m_app->storedPage(p.localID);
    QCOMPARE(after.title, QStringLiteral("Weekly review"));
    QCOMPARE(store.state().outbox.size(), size_t(1));
    const FNSyncOp &op = store.state().outbox[0];
    QCOMPARE(op.entity + QLatin1Char('/') + op.op, QStringLiteral("page/update"));
    QCOMPARE(op.refLocalID, p.localID);
    QCOMPARE(op.payloadJSON, QStringLiteral(R"({"page_id":77,"title":"Weekly review"})"));
}

void TestLibraryRename::renameOfAnUnsyncedPageTravelsWithItsCreate()
{
    const FNPage made = page(QStringLiteral("Untitled"), 0);
    m_app->queuePageCreate(made);

    LibraryRowEditor &editor = m_view->rowEditor();
    editor.beginPageRename(made.localID);
    editor.commitPageRename(made.localID, QStringLiteral("Ideas"));
    const auto &outbox = m_app->store.state().outbox;
    QCOMPARE(outbox.size(), size_t(1));
    QCOMPARE(outbox[0].op, QStringLiteral("create"));

    QVERIFY(runTask(m_app->engine.syncNow()).ok());
    const FNPage after = m_app->storedPage(made.localID);
    QVERIFY(after.serverID != 0);
    QCOMPARE(after.title, QStringLiteral("Ideas"));
    QCOMPARE(m_fake.state().pages[after.serverID].title, QStringLiteral("Ideas"));
}

void TestLibraryRename::renameFieldEndings()
{
    const FNFolder f = folder(QStringLiteral("Projects"), 0);
    showView();
    auto editorOf = [this] { return renameField(); };
    auto name = [&] { return m_app->storedFolder(f.localID).name; };

    // Escape drops the edit.
    m_view->beginRename(row(QStringLiteral("folder:") + f.localID));
    QTRY_VERIFY(editorOf());
    QCOMPARE(editorOf()->text(), QStringLiteral("Projects"));
    editorOf()->setText(QStringLiteral("Dropped"));
    QTest::keyClick(editorOf(), Qt::Key_Escape);
    QTRY_VERIFY(!m_view->rowEditor().renamingFolderID());
    QCOMPARE(name(), QStringLiteral("Projects"));

    // Return commits.
    m_view->beginRename(row(QStringLiteral("folder:") + f.localID));
    QTRY_VERIFY(editorOf());
    editorOf()->setText(QStringLiteral("Returned"));
    QTest::keyClick(editorOf(), Qt::Key_Return);
    QTRY_COMPARE(name(), QStringLiteral("Returned"));
    QVERIFY(!m_view->refresher().isRenameInProgress());

    // Leaving the field commits too, so the refresh does not stay paused.
    QTRY_VERIFY(!editorOf());
    m_view->beginRename(row(QStringLiteral("folder:") + f.localID));
    QTRY_VERIFY(editorOf());
    QVERIFY(m_view->refresher().isRenameInProgress());
    editorOf()->setText(QStringLiteral("Left"));
    m_view->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_view.get()));
    QTRY_COMPARE(QApplication::focusWidget(), editorOf());
    m_view->searchEdit()->setFocus(Qt::OtherFocusReason);
    QTRY_COMPARE(name(), QStringLiteral("Left"));
    QVERIFY(!m_view->refresher().isRenameInProgress());

    // A field whose record goes while the rows are rebuilt ends with nothing stored, and the refresh
    // does not stay paused either.
    QTRY_VERIFY(!editorOf());
    m_view->beginRename(row(QStringLiteral("folder:") + f.localID));
    QTRY_VERIFY(editorOf());
    editorOf()->setText(QStringLiteral("Gone"));
    FNFolder deleted = m_app->storedFolder(f.localID);
    deleted.deletedAt = QDateTime::currentDateTimeUtc();
    m_app->store.upsertFolder(deleted);
    QTRY_VERIFY(!row(QStringLiteral("folder:") + f.localID).isValid());
    QTRY_VERIFY(!editorOf());
    QVERIFY(!m_view->rowEditor().renamingFolderID());
    QVERIFY(!m_view->refresher().isRenameInProgress());
    QCOMPARE(name(), QStringLiteral("Left"));
}

void TestLibraryRename::renameOutlivesARebuild_data()
{
    QTest::addColumn<bool>("isFolder");
    QTest::addColumn<bool>("ownRow"); // the pull changes the renamed record's row, not the list's shape
    QTest::newRow("folder, a page pulled") << true << false;
    QTest::newRow("page, a page pulled") << false << false;
    QTest::newRow("folder, its icon pulled") << true << true;
    QTest::newRow("page, its icon pulled") << false << true;
}

// A rename half typed when a pull rebuilds the rows stays open on its record as it was, sends nothing,
// and sends the whole name once ended.
void TestLibraryRename::renameOutlivesARebuild()
{
    QFETCH(bool, isFolder);
    QFETCH(bool, ownRow);
    const FNFolder f = folder(QStringLiteral("Projects"), 41);
    const FNPage p = page(QStringLiteral("Projects"), 77);
    FakeServiceState::Page remote;
    remote.id = p.serverID;
    remote.workspaceId = m_account.workspaceId;
    remote.title = p.title;
    remote.createdByUserId = m_account.userId;
    m_fake.state().pages[remote.id] = remote;
    const QString rowID =
        isFolder ? QStringLiteral("folder:") + f.localID : QStringLiteral("page:") + p.localID;
    const QString path = isFolder ? kFolders : kPages;
    const auto stored = [&] {
        return isFolder ? m_app->storedFolder(f.localID).name : m_app->storedPage(p.localID).title;
    };
    showView();
    m_view->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_view.get()));

    m_view->beginRename(row(rowID));
    QTRY_VERIFY(renameField());
    QTRY_COMPARE(QApplication::focusWidget(), renameField());
    // The last word selected leftwards, as Shift+Left leaves it.
    QTest::keyClicks(renameField(), QStringLiteral("Project Xyz"));
    for (int i = 0; i < 3; ++i)
        QTest::keyClick(renameField(), Qt::Key_Left, Qt::ShiftModifier);
    QCOMPARE(renameField()->selectedText(), QStringLiteral("Xyz"));

    const QString icon = QStringLiteral("🗂");
    if (!ownRow) {
        const FNPage pulled = page(QStringLiteral("Pulled"), 0, 5);
        QTRY_VERIFY(row(QStringLiteral("page:") + pulled.localID).isValid());
    } else if (isFolder) {
        FNFolder changed = m_app->storedFolder(f.localID);
        changed.icon = icon;
        m_app->store.upsertFolder(changed);
    } else {
        FNPage changed = m_app->storedPage(p.localID);
        changed.icon = icon;
        m_app->store.upsertPage(changed);
    }
    if (ownRow)
        QTRY_COMPARE(row(rowID).data(LibraryRowModel::IconRole).toString(), icon);
    QCOMPARE(stored(), QStringLiteral("Projects"));
    QVERIFY(m_app->store.state().outbox.empty());
    QVERIFY(requestsWith(m_fake, path, "PATCH").empty());
    QVERIFY(m_view->refresher().isRenameInProgress());
    QVERIFY(renameField());
    QCOMPARE(m_view->listView()->indexAt(renameField()->geometry().center()), row(rowID));
    QCOMPARE(renameField()->text(), QStringLiteral("Project Xyz"));
    QCOMPARE(renameField()->selectedText(), QStringLiteral("Xyz"));

    // Typing goes on where it stood: over the selection.
    QTRY_COMPARE(QApplication::focusWidget(), renameField());
    QTest::keyClicks(QApplication::focusWidget(), QStringLiteral("plans"));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    QTRY_COMPARE(stored(), QStringLiteral("Project plans"));
    QTRY_VERIFY(m_app->store.state().outbox.empty() && !m_app->engine.isSyncing());
    const std::vector<HttpRequest> sent = requestsWith(m_fake, path, "PATCH");
    QCOMPARE(sent.size(), size_t(1));
    QCOMPARE(QString::fromUtf8(sent[0].body),
             isFolder ? QStringLiteral(R"({"folder_id":41,"name":"Project plans"})")
                      : QStringLiteral(R"({"page_id":77,"title":"Project plans"})"));
}

QTEST_MAIN(TestLibraryRename)
#include "tst_library_rename.moc"
