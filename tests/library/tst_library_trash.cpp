#include "api/api_client.h"
#include "api/api_error.h"
#include "fake-service/fake_service.h"
#include "library/trash_list.h"
#include "library/trash_view.h"
#include "support/drawn_text.h"
#include "support/library_steps.h"
#include "support/task_outcome.h"
#include "support/test_device.h"
#include "ui/empty_state_view.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QToolButton>

#include <memory>

namespace {

const QString kPages = QStringLiteral("/api/pages.php");
const QString kSync = QStringLiteral("/api/sync.php");

// The button in a trash row with this text, or with this tooltip for the icon-only one.
QAbstractButton *buttonIn(QWidget *row, const QString &textOrToolTip)
{
    if (!row)
        return nullptr;
    for (QAbstractButton *b : row->findChildren<QAbstractButton *>()) {
        if (b->text() == textOrToolTip || b->toolTip() == textOrToolTip)
            return b;
    }
    return nullptr;
}

QStringList buttonsIn(QWidget *row)
{
    QStringList out;
    for (QAbstractButton *b : row->findChildren<QAbstractButton *>())
        out << (b->text().isEmpty() ? b->toolTip() : b->text());
    return out;
}

std::vector<qint64> idsOf(const std::vector<PageDTO> &items)
{
    std::vector<qint64> out;
    for (const PageDTO &p : items)
        out.push_back(p.id);
    return out;
}

} // namespace

// The trash: what it lists, restoring (on the service and on this device) and purging.
class TestLibraryTrash : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void rowTexts_data();
    void rowTexts();
    void listsTheWorkspacesTrash();
    void rowDrawsTheServicesTextAsGiven_data() { DrawnText::addRows("text"); }
    void rowDrawsTheServicesTextAsGiven();
    void nothingToShow_data();
    void nothingToShow();
    void restorePutsThePageBackHereAndThere();
    void failingRestoreIsShownAsAnError();
    void purgeConfirmsInTheRow_data();
    void purgeConfirmsInTheRow();
    void onlyOneRowConfirms();

private:
    FNPage trashedPage(const QString &title);
    AppContext context();

    FakeService m_fake;
    FakeService::Account m_account;
    std::unique_ptr<TestDevice> m_device;
    int m_accounts = 0;
};

void TestLibraryTrash::initTestCase()
{
    QVERIFY(m_fake.start());
}

void TestLibraryTrash::init()
{
    m_fake.clearFaults();
    m_account =
        m_fake.createAccount(QStringLiteral("trash%1@example.com").arg(++m_accounts), "secret12", "T");
    m_device = deviceInWorkspace(m_fake, m_account);
}

void TestLibraryTrash::cleanup()
{
    m_device.reset();
}

AppContext TestLibraryTrash::context()
{
    return m_device->context();
}

// A page made on this device, then deleted here and on the service.
FNPage TestLibraryTrash::trashedPage(const QString &title)
{
    const FNPage made = m_device->addPage(m_account.workspaceId, title);
    m_device->sync();
    m_device->queuePageDelete(made.localID);
    m_device->sync();
    return *m_device->page(made.localID);
}

void TestLibraryTrash::rowTexts_data()
{
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("icon"); // "-" for none
    QTest::addColumn<QString>("updated");
    QTest::addColumn<QString>("created");
    QTest::addColumn<QString>("shownTitle");
    QTest::addColumn<QString>("shownIcon");
    QTest::addColumn<QString>("stamp");
    QTest::newRow("deletion time cut after the minutes") << "Plan"
                                                         << "🚀"
                                                         << "2024-05-01 09:30:15"
                                                         << "2023-01-01 00:00:00"
                                                         << "Plan"
                                                         << "🚀"
                                                         << "Deleted 2024-05-01 09:30";
    QTest::newRow("no change time: the creation time") << ""
                                                       << "-"
                                                       << "-"
                                                       << "2024-04-01 08:00:00"
                                                       << "Untitled"
                                                       << "📄"
                                                       << "Deleted 2024-04-01 08:00";
    QTest::newRow("short stamp shown whole, empty icon") << "A"
                                                         << ""
                                                         << "2024-05"
                                                         << "-"
                                                         << "A"
                                                         << "📄"
                                                         << "Deleted 2024-05";
    QTest::newRow("no stamp at all") << "A"
                                     << "-"
                                     << "-"
                                     << "-"
                                     << "A"
                                     << "📄"
                                     << "Deleted ";
}

void TestLibraryTrash::rowTexts()
{
    QFETCH(QString, title);
    QFETCH(QString, icon);
    QFETCH(QString, updated);
    QFETCH(QString, created);
    QFETCH(QString, shownTitle);
    QFETCH(QString, shownIcon);
    QFETCH(QString, stamp);
    const auto given = [](const QString &v) {
        return v == QLatin1String("-") ? std::nullopt : std::optional(v);
    };
    PageDTO entry;
    entry.title = title;
    entry.icon = given(icon);
    entry.updated_at = given(updated);
    entry.created_at = given(created);
    QCOMPARE(TrashList::titleOf(entry), shownTitle);
    QCOMPARE(TrashList::iconOf(entry), shownIcon);
    QCOMPARE(TrashList::deletedStamp(entry), stamp);
}

void TestLibraryTrash::listsTheWorkspacesTrash()
{
    const FNPage first = trashedPage(QStringLiteral("First"));
    const FNPage second = trashedPage(QStringLiteral("Second"));
    m_device->addPage(m_account.workspaceId, QStringLiteral("Live"));
    QVERIFY(m_device->sync());
    FakeServiceState::Page &older = m_fake.state().pages[first.serverID];
    older.deletedAt = older.deletedAt.addSecs(-60);

    TrashList list(m_device->store(), m_device->client(), m_device->engine());
    QVERIFY(list.isLoading());
    QVERIFY(runTask(list.load()).ok());
    QVERIFY(!list.isLoading());
    QVERIFY(!list.error());
    // As the service sends them: the latest deletion first.
    QCOMPARE(idsOf(list.items()), (std::vector<qint64>{second.serverID, first.serverID}));
    QCOMPARE(m_fake.lastRequest().target,
             "/api/pages.php?workspace_id=" + QByteArray::number(m_account.workspaceId) + "&trash=1");
}

void TestLibraryTrash::rowDrawsTheServicesTextAsGiven()
{
    QFETCH(QString, text);
    PageDTO entry;
    entry.id = 41;
    entry.title = QStringLiteral("Plan");
    entry.icon = text;
    entry.updated_at = text;
    const JSONObject page{{"id", entry.id}, {"workspace_id", m_account.workspaceId}, {"title", entry.title},
                          {"icon", text}, {"position", 0}, {"updated_at", text}};
    m_fake.setFault(kPages, once(FakeService::Fault::http(200, serializeJSONObject({{"pages", JSONArray{page}}}))));

    TrashView view(context(), nullptr);
    view.setAttribute(Qt::WA_DeleteOnClose, false);
    view.show();
    QTRY_VERIFY(view.currentBody() != view.spinnerPage());
    QStringList drawn;
    for (const QLabel *label : view.currentBody()->findChildren<QLabel *>())
        drawn << DrawnText::ofLabel(label);
    QVERIFY2(drawn.contains(text), qPrintable(drawn.join(u'|')));
    QVERIFY2(drawn.contains(TrashList::deletedStamp(entry)), qPrintable(drawn.join(u'|')));
}

void TestLibraryTrash::nothingToShow_data()
{
    QTest::addColumn<bool>("signedIn");
    QTest::addColumn<bool>("workspace");
    QTest::addColumn<int>("requests");
    QTest::newRow("empty trash") << true << true << 1;
    QTest::newRow("signed out") << false << true << 0;
    QTest::newRow("no workspace on the service") << true << false << 0;
}

void TestLibraryTrash::nothingToShow()
{
    QFETCH(bool, signedIn);
    QFETCH(bool, workspace);
    QFETCH(int, requests);
    if (!signedIn)
        m_device->setToken(std::nullopt);
    if (!workspace)
        m_device->store().setWorkspaces({});
    m_fake.clearRequests();

    TrashView view(context(), nullptr);
    view.setAttribute(Qt::WA_DeleteOnClose, false);
    QCOMPARE(view.currentBody(), view.spinnerPage());
    view.show();
    QTRY_COMPARE(view.currentBody(), view.emptyState());
    QCOMPARE(m_fake.requestsTo(kPages).size(), requests);
    QCOMPARE(view.emptyState()->titleLabel()->text(), QStringLiteral("Nothing in trash"));
    QCOMPARE(view.emptyState()->subtitleLabel()->text(),
             QStringLiteral("Pages you delete will appear here for 30 days."));
}

void TestLibraryTrash::restorePutsThePageBackHereAndThere()
{
    const FNPage page = trashedPage(QStringLiteral("Plan"));
    QVERIFY(page.deletedAt);
    QVERIFY(m_fake.state().pages[page.serverID].inTrash());

    TrashList list(m_device->store(), m_device->client(), m_device->engine());
    QVERIFY(runTask(list.load()).ok());
    m_fake.clearRequests();
    list.restore(page.serverID);
    QCOMPARE(list.busyID(), std::optional<qint64>(page.serverID));
    QTRY_VERIFY(!list.busyID());

    QVERIFY(!list.error());
    QVERIFY(list.items().empty());
    QVERIFY(!m_fake.state().pages[page.serverID].inTrash());
    QVERIFY(!m_device->page(page.localID)->deletedAt);
    const QList<HttpRequest> sent = m_fake.requestsTo(kPages);
    QCOMPARE(sent[0].method, QByteArray("PATCH"));
    QCOMPARE(sent[0].body,
             QByteArray(R"({"page_id":)") + QByteArray::number(page.serverID) + R"(,"restore":1})");
    QCOMPARE(m_fake.requestsTo(kSync).size(), 1);

    // Later pulls leave it shown.
    QVERIFY(m_device->sync());
    QVERIFY(!m_device->page(page.localID)->deletedAt);
}

void TestLibraryTrash::failingRestoreIsShownAsAnError()
{
    const FNPage page = trashedPage(QStringLiteral("Plan"));
    TrashView view(context(), nullptr);
    view.setAttribute(Qt::WA_DeleteOnClose, false);
    view.show();
    QTRY_COMPARE(view.currentBody(), view.listPage());
    QWidget *row = view.rowFor(page.serverID);
    QVERIFY(row);
    QPushButton *restore = nullptr;
    for (QPushButton *b : row->findChildren<QPushButton *>()) {
        if (b->text() == QLatin1String("Restore"))
            restore = b;
    }
    QVERIFY(restore);

    const QByteArray body = R"({"error":"Restore unavailable"})";
    m_fake.setFault(kPages, FakeService::Fault::http(500, body));
    m_fake.clearRequests();
    restore->click();
    QTRY_VERIFY(!view.trashList().busyID());
    QCOMPARE(view.currentBody(), view.errorLabel());
    QCOMPARE(view.errorLabel()->text(), APIError::http(500, QString::fromUtf8(body)).errorDescription());
    // The failure path: no sync, no reload, the entry still held.
    QVERIFY(m_fake.requestsTo(kSync).isEmpty());
    QCOMPARE(m_fake.requestsTo(kPages).size(), 1);
    QCOMPARE(view.trashList().items().size(), size_t(1));
    QVERIFY(m_device->page(page.localID)->deletedAt);

    // The reload button clears the error before its request.
    m_fake.clearFaults();
    view.reloadButton()->click();
    QTRY_COMPARE(view.currentBody(), view.listPage());
}

void TestLibraryTrash::purgeConfirmsInTheRow_data()
{
    QTest::addColumn<QString>("answer"); // the row button pressed after the trash icon
    QTest::addColumn<bool>("signedIn");  // when the answer is given
    QTest::addColumn<int>("status");     // of the purge request, 0 for success
    QTest::newRow("confirmed") << "Confirm delete" << true << 0;
    QTest::newRow("cancelled") << "Cancel" << true << 0;
    QTest::newRow("confirmed, signed out meanwhile") << "Confirm delete" << false << 0;
    QTest::newRow("confirmed, the service fails") << "Confirm delete" << true << 500;
}

void TestLibraryTrash::purgeConfirmsInTheRow()
{
    QFETCH(QString, answer);
    QFETCH(bool, signedIn);
    QFETCH(int, status);
    const FNPage page = trashedPage(QStringLiteral("Old"));
    TrashView view(context(), nullptr);
    view.setAttribute(Qt::WA_DeleteOnClose, false);
    view.show();
    QTRY_COMPARE(view.currentBody(), view.listPage());
    const QStringList normal = buttonsIn(view.rowFor(page.serverID));
    QCOMPARE(normal, QStringList({"Restore", "Permanently delete"}));
    m_fake.clearRequests();

    buttonIn(view.rowFor(page.serverID), QStringLiteral("Permanently delete"))->click();
    QCOMPARE(buttonsIn(view.rowFor(page.serverID)), QStringList({"Confirm delete", "Cancel"}));
    // Asked in the row: no other window opens.
    for (QWidget *w : QApplication::topLevelWidgets())
        QVERIFY2(w == &view || !w->isVisible(), w->metaObject()->className());
    QVERIFY(m_fake.requests().isEmpty());

    if (!signedIn)
        m_device->setToken(std::nullopt);
    const QByteArray body = R"({"error":"Purge unavailable"})";
    if (status)
        m_fake.setFault(kPages, once(FakeService::Fault::http(status, body)));
    buttonIn(view.rowFor(page.serverID), answer)->click();

    if (answer == QLatin1String("Cancel") || !signedIn) {
        // Cancel brings the row back; without a token the confirmation stays, and nothing is sent.
        QCOMPARE(buttonsIn(view.rowFor(page.serverID)),
                 signedIn ? normal : QStringList({"Confirm delete", "Cancel"}));
        QVERIFY(!view.trashList().busyID());
        QVERIFY(m_fake.requests().isEmpty());
        QVERIFY(m_fake.state().pages[page.serverID].inTrash());
        return;
    }
    QCOMPARE(view.trashList().busyID(), std::optional<qint64>(page.serverID));
    QVERIFY(!view.trashList().pendingPurge());
    QTRY_VERIFY(!view.trashList().busyID());
    QCOMPARE(m_fake.requestsTo(kPages)[0].target,
             "/api/pages.php?page_id=" + QByteArray::number(page.serverID) + "&permanent=1");
    if (status) {
        QCOMPARE(view.currentBody(), view.errorLabel());
        QCOMPARE(view.errorLabel()->text(),
                 APIError::http(status, QString::fromUtf8(body)).errorDescription());
        QCOMPARE(m_fake.requestsTo(kPages).size(), 1); // no reload
        QCOMPARE(idsOf(view.trashList().items()), std::vector<qint64>{page.serverID});
        return;
    }
    // The reload no longer lists it: the row leaves.
    QCOMPARE(view.currentBody(), view.emptyState());
    QVERIFY(!view.rowFor(page.serverID));
    QVERIFY(!m_fake.state().pages.count(page.serverID));
}

void TestLibraryTrash::onlyOneRowConfirms()
{
    const FNPage first = trashedPage(QStringLiteral("First"));
    const FNPage second = trashedPage(QStringLiteral("Second"));
    TrashView view(context(), nullptr);
    view.setAttribute(Qt::WA_DeleteOnClose, false);
    view.show();
    QTRY_COMPARE(view.currentBody(), view.listPage());
    const QString trashIcon = QStringLiteral("Permanently delete");

    buttonIn(view.rowFor(first.serverID), trashIcon)->click();
    buttonIn(view.rowFor(second.serverID), trashIcon)->click();
    QCOMPARE(buttonsIn(view.rowFor(first.serverID)), QStringList({"Restore", "Permanently delete"}));
    QCOMPARE(buttonsIn(view.rowFor(second.serverID)), QStringList({"Confirm delete", "Cancel"}));

    // Confirming purges the row that asked, not the first.
    m_fake.clearRequests();
    buttonIn(view.rowFor(second.serverID), QStringLiteral("Confirm delete"))->click();
    QTRY_VERIFY(!view.trashList().busyID());
    QCOMPARE(idsOf(view.trashList().items()), std::vector<qint64>{first.serverID});
    QVERIFY(m_fake.state().pages[first.serverID].inTrash());
    QVERIFY(!m_fake.state().pages.count(second.serverID));
}

QTEST_MAIN(TestLibraryTrash)
#include "tst_library_trash.moc"
