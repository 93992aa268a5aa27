// The cells of the inline database block in the page editor, against the fake service: the delayed
// sends of their edits, the select menu, and the table reopened and on a second device.
#include "database_block_fixture.h"

#include <QApplication>
#include <QHeaderView>
#include <QLineEdit>
#include <QMenu>
#include <QSignalSpy>
#include <QTest>

class TestDatabaseCells : public QObject, private DatabaseBlockFixture
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void quickKeystrokesSendOnePatch();
    void twoCellsSendTwoPatches();
    void closingThePageSendsAtOnce_data();
    void closingThePageSendsAtOnce();
    void notSavedShowsTheOldValue_data();
    void notSavedShowsTheOldValue();
    void olderFailureLeavesNewerValues_data();
    void olderFailureLeavesNewerValues();
    void twoEditsOfOneRowBothLand_data();
    void twoEditsOfOneRowBothLand();
    void reopenedWhileAnUpdateIsOut_data();
    void reopenedWhileAnUpdateIsOut();
    void signedOutChangesNothing();
    void reloadKeepsPendingEdits_data();
    void reloadKeepsPendingEdits();
    void negativeNumberTypedKeyByKey();
    void selectMenu_data();
    void selectMenu();

    void reopenedAndOnASecondDevice();
};

void TestDatabaseCells::initTestCase()
{
    QVERIFY(startService());
}

void TestDatabaseCells::init()
{
    openDevice();
}

void TestDatabaseCells::cleanup()
{
    closeDevice();
}

void TestDatabaseCells::quickKeystrokesSendOnePatch()
{
    DatabaseBlockView *view = openDatabase({{0, R"({"c1":"Buy","c2":"Doing","c3":true,"c4":2})"}});
    const qint64 id = m_databaseID;
    QTRY_VERIFY(showsTable(view, 1));

    click(view, 0, 0);
    QTRY_VERIFY(openField(view));
    QCOMPARE(openField(view)->text(), QStringLiteral("Buy"));
    QTest::keyClicks(openField(view), QStringLiteral("abc"));
    QCOMPARE(shown(view, 0, 0), QStringLiteral("Buyabc"));
    QCOMPARE(view->model().pendingSends(), 1);
    QVERIFY(patches().empty());

    QTRY_COMPARE(patches().size(), size_t(1));
    QCOMPARE(patches().front(), jsonObject(R"({"row_id":)" + QByteArray::number(rowID(id, 0)) +
                                           R"(,"data":{"c1":"Buyabc","c2":"Doing","c3":true,"c4":2}})"));
    QCOMPARE(view->model().pendingSends(), 0);
    roundTrip();
    QCOMPARE(patches().size(), size_t(1));
    QCOMPARE(m_fake.state().databaseRows.at(rowID(id, 0)).data.at("c1"), JSONValue("Buyabc"));
}

void TestDatabaseCells::twoCellsSendTwoPatches()
{
    DatabaseBlockView *view = openDatabase({{0, R"({"c1":"A","c3":false})"}});
    QTRY_VERIFY(showsTable(view, 1));

    click(view, 0, 0);
    QTRY_VERIFY(openField(view));
    QTest::keyClicks(openField(view), QStringLiteral("b"));
    QSignalSpy repainted(&view->tableModel(), &QAbstractItemModel::dataChanged);
    click(view, 0, 2);
    QCOMPARE(view->model().pendingSends(), 2);
    // The ticked cell is drawn again at once.
    QCOMPARE(repainted.size(), 1);
    QCOMPARE(repainted.front().front().toModelIndex(), view->tableModel().index(0, 2));

    // Each sends the whole row as it is when it goes: both hold both changes.
    QTRY_COMPARE(patches().size(), size_t(2));
    for (const JSONObject &body : patches())
        QCOMPARE(body.at("data"), JSONValue(JSONObject{{"c1", "Ab"}, {"c3", true}}));
}

void TestDatabaseCells::closingThePageSendsAtOnce_data()
{
    QTest::addColumn<int>("status"); // the send's answer
    QTest::addColumn<QString>("toast");

    QTest::newRow("saved") << 200 << "";
    // The block is gone when the answer comes: the page's toast says it.
    QTest::newRow("not saved") << 500 << "Change not saved: Server problem. Please try again. (Disk full)";
}

void TestDatabaseCells::closingThePageSendsAtOnce()
{
    QFETCH(int, status);
    QFETCH(QString, toast);
    // A pause far longer than the test waits: only the close can send it.
    DatabaseBlockView *view = openDatabase({{0, R"({"c1":"Draft"})"}}, std::chrono::seconds(60));
    QTRY_VERIFY(showsTable(view, 1));
    click(view, 0, 0);
    QTRY_VERIFY(openField(view));
    QTest::keyClicks(openField(view), QStringLiteral(" 2"));
    if (status != 200)
        m_fake.setFault(kRows, FakeService::Fault::http(status, R"({"error":"Disk full"})"));
    m_view.reset();
    QTRY_COMPARE(patches().size(), size_t(1));
    QCOMPARE(patches().front().at("data"), JSONValue(JSONObject{{"c1", "Draft 2"}}));
    if (!toast.isEmpty()) {
        QTRY_VERIFY_WITH_TIMEOUT(m_toasts.current().has_value(), 20000);
        QCOMPARE(m_toasts.current()->message, toast);
        return;
    }
    // Opened again, the page shows what the service kept, and nothing was said.
    view = openPage(*m_device, m_page.localID);
    QVERIFY(view);
    QTRY_VERIFY(showsTable(view, 1));
    QCOMPARE(shown(view, 0, 0), QStringLiteral("Draft 2"));
    QVERIFY(!m_toasts.current());
}

void TestDatabaseCells::notSavedShowsTheOldValue_data()
{
    QTest::addColumn<bool>("offline"); // else the service answers 500 once
    QTest::addColumn<int>("column");   // 0: a text field, 2: a checkbox

    QTest::newRow("text, 500 once") << false << 0;
    QTest::newRow("text, offline") << true << 0;
    QTest::newRow("checkbox, 500 once") << false << 2;
    QTest::newRow("checkbox, offline") << true << 2;
}

void TestDatabaseCells::notSavedShowsTheOldValue()
{
    QFETCH(bool, offline);
    QFETCH(int, column);
    DatabaseBlockView *view = openDatabase({{0, R"({"c1":"Old","c3":false})"}});
    const qint64 row = rowID(m_databaseID, 0);
    QTRY_VERIFY(showsTable(view, 1));
    if (offline) {
        m_fake.setOffline(true);
    } else {
        FakeService::Fault fault = FakeService::Fault::http(500, R"({"error":"Disk full"})");
        fault.remaining = 1;
        m_fake.setFault(kRows, fault);
    }
    // What the cell shows, in its open field too.
    const auto shownValue = [&]() -> QString {
        if (column == 2)
            return DatabaseBlock::isChecked(view->tableModel().value(view->tableModel().index(0, 2)))
                       ? QStringLiteral("on")
                       : QStringLiteral("off");
        const QLineEdit *field = openField(view);
        return field && field->text() != shown(view, 0, 0) ? QStringLiteral("field differs")
                                                           : shown(view, 0, 0);
    };
    const auto edit = [&](const QString &text) {
        if (column == 2) {
            click(view, 0, 2);
            return;
        }
        if (!openField(view))
            click(view, 0, 0);
        QTRY_VERIFY(openField(view));
        openField(view)->selectAll();
        QTest::keyClicks(openField(view), text);
    };

    edit(QStringLiteral("New"));
    QCOMPARE(shownValue(), column == 2 ? QStringLiteral("on") : QStringLiteral("New"));
    QTRY_VERIFY_WITH_TIMEOUT(view->errorLabel()->isVisible(), 20000);
    const QString prefix = QStringLiteral("Change not saved: ");
    if (offline)
        QVERIFY2(view->errorLabel()->text().startsWith(prefix) &&
                     view->errorLabel()->text().size() > prefix.size(),
                 qPrintable(view->errorLabel()->text()));
    else
        QCOMPARE(view->errorLabel()->text(),
                 prefix + QStringLiteral("Server problem. Please try again. (Disk full)"));
    QCOMPARE(shownValue(), column == 2 ? QStringLiteral("off") : QStringLiteral("Old"));
    QCOMPARE(view->model().pendingSends() + view->model().sendsOut(), 0);
    QCOMPARE(m_fake.state().databaseRows.at(row).data, jsonObject(R"({"c1":"Old","c3":false})"));

    // The next change goes through: shown, stored, and the message is gone.
    m_fake.setOffline(false);
    edit(QStringLiteral("Newer"));
    QTRY_VERIFY_WITH_TIMEOUT(!view->errorLabel()->isVisible(), 20000);
    const QString now = column == 2 ? QStringLiteral("on") : QStringLiteral("Newer");
    QCOMPARE(shownValue(), now);
    QTRY_COMPARE(view->model().sendsOut(), 0);
    const JSONObject stored =
        column == 2 ? jsonObject(R"({"c1":"Old","c3":true})") : jsonObject(R"({"c1":"Newer","c3":false})");
    QCOMPARE(m_fake.state().databaseRows.at(row).data, stored);

    m_view.reset();
    view = openPage(*m_device, m_page.localID);
    QVERIFY(view);
    QTRY_VERIFY(showsTable(view, 1));
    QCOMPARE(shownValue(), now);
    QVERIFY(!view->errorLabel()->isVisible());
}

void TestDatabaseCells::olderFailureLeavesNewerValues_data()
{
    QTest::addColumn<int>("column");     // the second change's: 0 the same text cell, 2 the row's checkbox
    QTest::addColumn<QString>("second"); // its send: "saved", "slow" or "fails"

    QTest::newRow("same cell, newer saved") << 0 << "saved";
    QTest::newRow("same cell, newer slow") << 0 << "slow";
    QTest::newRow("same cell, newer fails too") << 0 << "fails";
    QTest::newRow("other cell, saved") << 2 << "saved";
    QTest::newRow("other cell, slow") << 2 << "slow";
    QTest::newRow("other cell, fails too") << 2 << "fails";
}

void TestDatabaseCells::olderFailureLeavesNewerValues()
{
    QFETCH(int, column);
    QFETCH(QString, second);
    DatabaseBlockView *view = openDatabase({{0, R"({"c1":"Old","c3":false})"}});
    const qint64 row = rowID(m_databaseID, 0);
    QTRY_VERIFY(showsTable(view, 1));
    const QByteArray busy = R"({"error":"Busy"})";

    // The first send fails, but its answer waits until the second change is due.
    FakeService::Fault held = FakeService::Fault::http(500, busy);
    held.holdAnswer = true;
    held.remaining = 1;
    m_fake.setFault(kRows, held);
    QVERIFY(typeOver(view, 0, 0, QStringLiteral("A")));
    QTRY_COMPARE(patches().size(), size_t(1));

    if (second != QLatin1String("saved")) {
        FakeService::Fault next = second == QLatin1String("fails") ? FakeService::Fault::http(500, busy)
                                                                   : FakeService::Fault::delay(1500);
        next.remaining = 1;
        m_fake.setFault(kRows, next);
    }
    if (column == 0)
        QTest::keyClicks(openField(view), QStringLiteral("B"));
    else
        click(view, 0, 2);
    // Due, it waits for the answer to the row's update out.
    QTRY_COMPARE(view->model().pendingSends(), 0);
    roundTrip();
    QCOMPARE(patches().size(), size_t(1));
    m_fake.releaseHeldAnswers();
    QTRY_COMPARE(patches().size(), size_t(2));
    QTRY_COMPARE_WITH_TIMEOUT(view->model().sendsOut(), 0, 20000);

    const bool fails = second == QLatin1String("fails");
    const QByteArray expected = fails         ? R"({"c1":"Old","c3":false})"
                                : column == 0 ? R"({"c1":"AB","c3":false})"
                                              : R"({"c1":"A","c3":true})";
    QCOMPARE(m_fake.state().databaseRows.at(row).data, jsonObject(expected));
    QCOMPARE(view->tableModel().row(0).data, jsonObject(expected));
    if (QLineEdit *field = openField(view))
        QCOMPARE(field->text(), shown(view, 0, 0));
    QCOMPARE(view->errorLabel()->isVisible(), fails);
    if (fails)
        QCOMPARE(view->errorLabel()->text(),
                 QStringLiteral("Change not saved: Server problem. Please try again. (Busy)"));
}

void TestDatabaseCells::twoEditsOfOneRowBothLand_data()
{
    QTest::addColumn<int>("firstStatus"); // the held first update's answer
    QTest::addColumn<bool>("closeFirst"); // the page closes before the second edit's quiet period ends

    QTest::newRow("first saved") << 200 << false;
    QTest::newRow("first refused") << 503 << false;
    QTest::newRow("page closed while the first is out") << 200 << true;
}

void TestDatabaseCells::twoEditsOfOneRowBothLand()
{
    QFETCH(int, firstStatus);
    QFETCH(bool, closeFirst);
    DatabaseBlockView *view = openDatabase({{0, R"({"c1":"Plan","c4":1})"}});
    const qint64 row = rowID(m_databaseID, 0);
    QTRY_VERIFY(showsTable(view, 1));
    FakeService::Fault held =
        firstStatus == 200 ? FakeService::Fault::held() : FakeService::Fault::http(firstStatus, "{}");
    held.holdAnswer = true;
    held.remaining = 1;
    m_fake.setFault(kRows, held);

    // Name, then Estimate a moment later, while the first update is still out.
    QVERIFY(typeOver(view, 0, 0, QStringLiteral("Launch")));
    QTRY_COMPARE(patches().size(), size_t(1));
    QVERIFY(typeOver(view, 0, 3, QStringLiteral("5")));
    if (closeFirst) {
        m_view.reset();
        // Back on the page while the first is still out: both edits show.
        view = openPage(*m_device, m_page.localID);
        QVERIFY(view);
        QTRY_VERIFY(showsTable(view, 1));
        QVERIFY(m_device->databaseRows().isOut(row));
        QCOMPARE(shown(view, 0, 0), QStringLiteral("Launch"));
        QCOMPARE(shown(view, 0, 3), QStringLiteral("5"));
    } else {
        QTRY_COMPARE(view->model().pendingSends(), 0);
    }
    roundTrip();
    QCOMPARE(patches().size(), size_t(1));

    m_fake.releaseHeldAnswers();
    QTRY_COMPARE(patches().size(), size_t(2));
    const auto landed = [&] {
        const JSONObject &data = m_fake.state().databaseRows.at(row).data;
        return data.at("c1") == JSONValue("Launch") && data.at("c4").toDouble() == 5.0;
    };
    QTRY_VERIFY(landed());
    QTRY_COMPARE(m_device->databaseRows().updatesOut(), 0);
    QVERIFY(!view->errorLabel()->isVisible());
    QCOMPARE(shown(view, 0, 0), QStringLiteral("Launch"));
    QCOMPARE(shown(view, 0, 3), QStringLiteral("5"));
    m_view.reset();
    roundTrip();
    QCOMPARE(patches().size(), size_t(2));
    QVERIFY(!m_toasts.current());

    view = openPage(*m_device, m_page.localID);
    QVERIFY(view);
    QTRY_VERIFY(showsTable(view, 1));
    QCOMPARE(shown(view, 0, 0), QStringLiteral("Launch"));
    QCOMPARE(shown(view, 0, 3), QStringLiteral("5"));
}

void TestDatabaseCells::reopenedWhileAnUpdateIsOut_data()
{
    QTest::addColumn<QString>("update");   // how the untick's update fares on the way
    QTest::addColumn<bool>("answerFirst"); // its answer comes before the reopened table's
    QTest::addColumn<bool>("editAfter");   // the reopened table's Name is edited while it is out

    QTest::newRow("answered before the reopen") << "answered" << true << false;
    for (const bool edit : {false, true}) {
        const char *then = edit ? ", Name edited" : "";
        // The table comes back while the untick is out.
        QTest::newRow(qPrintable(QStringLiteral("taken, table first%1").arg(then)))
            << "taken" << false << edit;
        QTest::newRow(qPrintable(QStringLiteral("on the way, table first%1").arg(then)))
            << "on the way" << false << edit;
        QTest::newRow(qPrintable(QStringLiteral("refused, table first%1").arg(then)))
            << "refused" << false << edit;
    }
    // The reopened table was read before the answer came, and arrives after it.
    QTest::newRow("taken, answer first") << "taken" << true << false;
    QTest::newRow("on the way, answer first") << "on the way" << true << false;
    QTest::newRow("refused, answer first") << "refused" << true << false;
}

void TestDatabaseCells::reopenedWhileAnUpdateIsOut()
{
    QFETCH(QString, update);
    QFETCH(bool, answerFirst);
    QFETCH(bool, editAfter);
    DatabaseBlockView *view = openDatabase({{0, R"({"c1":"Plan","c3":true})"}});
    const qint64 row = rowID(m_databaseID, 0);
    QTRY_VERIFY(showsTable(view, 1));
    const bool refused = update == QLatin1String("refused");
    if (update != QLatin1String("answered")) {
        // "taken": the service keeps it at once; "on the way": only once let through.
        FakeService::Fault fault = update == QLatin1String("taken") ? FakeService::Fault::held()
                                   : refused ? FakeService::Fault::http(503, R"({"error":"Busy"})")
                                             : FakeService::Fault::heldOnTheWay();
        fault.holdAnswer = true;
        fault.remaining = 1;
        m_fake.setFault(kRows, fault);
    }
    const auto done = [](DatabaseBlockView *v) {
        return DatabaseBlock::isChecked(v->tableModel().value(v->tableModel().index(0, 2)));
    };

    // Done unticked, and the page left for another before the update is answered.
    click(view, 0, 2);
    QVERIFY(!done(view));
    m_view.reset();
    QTRY_COMPARE(patches().size(), size_t(1));
    if (update == QLatin1String("answered")) {
        QTRY_COMPARE(m_device->databaseRows().updatesOut(), 0);
    } else if (answerFirst) {
        FakeService::Fault heldLoad = FakeService::Fault::held();
        heldLoad.remaining = 1;
        m_fake.setFault(kDatabases, heldLoad);
    }
    view = openPage(*m_device, m_page.localID);
    QVERIFY(view);
    if (answerFirst && update != QLatin1String("answered")) {
        QTRY_COMPARE(loads().size(), size_t(2));
        roundTrip();
        QVERIFY(m_fake.releaseFirstHeldAnswer());
        QTRY_COMPARE(m_device->databaseRows().updatesOut(), 0);
        m_fake.releaseHeldAnswers();
    }
    QTRY_VERIFY(showsTable(view, 1));
    QCOMPARE(done(view), answerFirst && refused);

    if (editAfter) {
        QVERIFY(typeOver(view, 0, 0, QStringLiteral("Launch")));
        // It follows the untick's answer, not races it.
        QTRY_COMPARE(view->model().pendingSends(), 0);
        roundTrip();
        QCOMPARE(patches().size(), size_t(1));
    }
    m_fake.releaseHeldAnswers();
    QTRY_COMPARE(m_device->databaseRows().updatesOut(), 0);
    roundTrip();

    // What the table shows is what the service keeps; a change it did not take is said.
    const bool kept = !refused || editAfter;
    QCOMPARE(done(view), !kept);
    QCOMPARE(patches().size(), size_t(editAfter ? 2 : 1));
    const JSONObject &stored = m_fake.state().databaseRows.at(row).data;
    QCOMPARE(stored.at("c3"), JSONValue(!kept));
    QCOMPARE(stored.at("c1"), JSONValue(editAfter ? "Launch" : "Plan"));
    if (editAfter)
        QCOMPARE(patches().back().at("data"), JSONValue(JSONObject{{"c1", "Launch"}, {"c3", false}}));
    if (!kept) {
        QTRY_VERIFY(m_toasts.current().has_value());
        QVERIFY(m_toasts.current()->message.startsWith(QStringLiteral("Change not saved")));
    } else {
        QVERIFY(!m_toasts.current());
    }
    QCOMPARE(view->errorLabel()->isVisible(), refused && !editAfter && !answerFirst);
}

void TestDatabaseCells::signedOutChangesNothing()
{
    DatabaseBlockView *view = openDatabase({{0, R"({"c3":false})"}});
    QTRY_VERIFY(showsTable(view, 1));
    m_device->setToken(std::nullopt);
    click(view, 0, 2);
    view->addRowButton()->click();
    QVERIFY(!DatabaseBlock::isChecked(view->tableModel().value(view->tableModel().index(0, 2))));
    QCOMPARE(view->model().pendingSends(), 0);
    roundTrip();
    QVERIFY(m_fake.requestsTo(kRows).isEmpty());
    QCOMPARE(view->tableModel().rowCount(), 1);
}

void TestDatabaseCells::reloadKeepsPendingEdits_data()
{
    QTest::addColumn<bool>("slowLoad");
    QTest::addColumn<int>("cellDelay");

    // The send still waits when the reload's older table comes in.
    QTest::newRow("reload before the send") << false << 1200;
    // The reload was answered before the send reached the service, and arrives after it.
    QTest::newRow("slow reload across the send") << true << 40;
}

void TestDatabaseCells::reloadKeepsPendingEdits()
{
    QFETCH(bool, slowLoad);
    QFETCH(int, cellDelay);
    DatabaseBlockView *view = openDatabase({{0, R"({"c1":"Old"})"}}, std::chrono::milliseconds(cellDelay));
    const qint64 id = m_databaseID;
    QTRY_VERIFY(showsTable(view, 1));

    const auto reload = [&] {
        m_view->hide();
        m_view->show();
        QApplication::setActiveWindow(m_view.get());
    };
    if (slowLoad) {
        FakeService::Fault slow = FakeService::Fault::delay(1500);
        slow.remaining = 1;
        m_fake.setFault(kDatabases, slow);
        reload();
        QTRY_COMPARE(loads().size(), size_t(2));
    }
    QVERIFY(typeOver(view, 0, 0, QStringLiteral("New")));
    if (slowLoad) {
        QTRY_COMPARE(patches().size(), size_t(1));
        QVERIFY(view->model().isLoading());
    } else {
        reload();
    }
    QTRY_VERIFY(!view->model().isLoading());
    QCOMPARE(loads().size(), size_t(2));
    QCOMPARE(view->model().pendingSends(), slowLoad ? 0 : 1);
    QCOMPARE(shown(view, 0, 0), QStringLiteral("New"));

    QTRY_COMPARE(patches().size(), size_t(1));
    QCOMPARE(patches().front().at("data"), JSONValue(JSONObject{{"c1", "New"}}));
    QTRY_COMPARE(view->model().pendingSends(), 0);
    roundTrip();
    QCOMPARE(patches().size(), size_t(1));
    QCOMPARE(m_fake.state().databaseRows.at(rowID(id, 0)).data.at("c1"), JSONValue("New"));
}

void TestDatabaseCells::negativeNumberTypedKeyByKey()
{
    DatabaseBlockView *view = openDatabase({{0, R"({"c4":3})"}});
    QTRY_VERIFY(showsTable(view, 1));
    QCOMPARE(shown(view, 0, 3), QStringLiteral("3"));

    click(view, 0, 3);
    QTRY_VERIFY(openField(view));
    QLineEdit *field = openField(view);
    field->selectAll();
    QTest::keyClick(field, Qt::Key_Backspace);
    QVERIFY(view->tableModel().value(view->tableModel().index(0, 3)).isNull());
    // Each step stays in the field as typed, whether or not it is a number yet.
    QString typed;
    for (const QChar key : QStringLiteral("-1.5")) {
        typed += key;
        QTest::keyClicks(field, QString(key));
        QCOMPARE(field->text(), typed);
    }
    const JSONValue stored = view->tableModel().value(view->tableModel().index(0, 3));
    QVERIFY(stored.isDouble());
    QCOMPARE(stored.toDouble(), -1.5);
    // Letters after it change nothing.
    QTest::keyClicks(field, QStringLiteral("x"));
    QCOMPARE(view->tableModel().value(view->tableModel().index(0, 3)), stored);

    QTRY_COMPARE(patches().size(), size_t(1));
    QCOMPARE(patches().front().at("data"), JSONValue(JSONObject{{"c4", -1.5}}));
}

void TestDatabaseCells::selectMenu_data()
{
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<QStringList>("items");
    QTest::addColumn<QString>("pick");
    QTest::addColumn<QByteArray>("stored");
    QTest::addColumn<QString>("label");

    const QStringList options{"Todo", "Doing", "Done"};
    QTest::newRow("empty cell") << QByteArray("null") << options << "Doing" << QByteArray(R"("Doing")")
                                << "Doing";
    QTest::newRow("a choice") << QByteArray(R"("Todo")") << (options + QStringList{"Clear"}) << "Clear"
                              << QByteArray("null") << "\u2014";
    QTest::newRow("an empty text") << QByteArray(R"("")") << (options + QStringList{"Clear"}) << "Clear"
                                   << QByteArray("null") << "\u2014";
    QTest::newRow("a number") << QByteArray("7") << options << "Done" << QByteArray(R"("Done")") << "Done";
}

void TestDatabaseCells::selectMenu()
{
    QFETCH(QByteArray, value);
    QFETCH(QStringList, items);
    QFETCH(QString, pick);
    QFETCH(QByteArray, stored);
    QFETCH(QString, label);
    DatabaseBlockView *view = openDatabase({{0, R"({"c2":)" + value + "}"}});
    QTRY_VERIFY(showsTable(view, 1));

    click(view, 0, 1);
    QTRY_VERIFY(view->selectMenu() && view->selectMenu()->isVisible());
    QMenu *menu = view->selectMenu();
    QCOMPARE(texts(menu->actions()), items);
    QAction *chosen = nullptr;
    for (QAction *action : menu->actions()) {
        if (action->text() == pick)
            chosen = action;
    }
    QVERIFY(chosen);
    QTest::mouseClick(menu, Qt::LeftButton, Qt::NoModifier, menu->actionGeometry(chosen).center());
    QTRY_VERIFY(!view->selectMenu());
    QCOMPARE(shown(view, 0, 1), label);
    QTRY_COMPARE(patches().size(), size_t(1));
    QCOMPARE(patches().front().at("data"), JSONValue(JSONObject{{"c2", JSONValue::parse(stored)}}));
}

void TestDatabaseCells::reopenedAndOnASecondDevice()
{
    DatabaseBlockView *view = openBlock({});
    QVERIFY(view);
    view->insertButton()->click();
    QTRY_VERIFY(showsTable(view, 0));
    QTest::mouseClick(view->addRowButton(), Qt::LeftButton);
    QTRY_VERIFY(showsTable(view, 1));
    QTRY_VERIFY(openField(view));
    QTest::keyClicks(openField(view), QStringLiteral("Ship it"));
    click(view, 0, 2); // Done
    click(view, 0, 1); // Status
    QTRY_VERIFY(view->selectMenu() && view->selectMenu()->isVisible());
    QAction *doing = view->selectMenu()->actions().at(1);
    QCOMPARE(doing->text(), QStringLiteral("Doing"));
    QTest::mouseClick(view->selectMenu(), Qt::LeftButton, Qt::NoModifier,
                      view->selectMenu()->actionGeometry(doing).center());
    QTRY_COMPARE(view->model().pendingSends(), 0);
    roundTrip();

    // The page's blocks reach the service with the database's id; the table is there already.
    QTRY_VERIFY(m_device->sync() && m_device->store().state().outbox.empty());
    const auto expectRow = [](DatabaseBlockView *shownView) {
        QTRY_VERIFY(showsTable(shownView, 1));
        QCOMPARE(shown(shownView, 0, 0), QStringLiteral("Ship it"));
        QCOMPARE(shown(shownView, 0, 1), QStringLiteral("Doing"));
        QVERIFY(DatabaseBlock::isChecked(shownView->tableModel().value(shownView->tableModel().index(0, 2))));
    };

    m_view.reset();
    view = openPage(*m_device, m_page.localID);
    QVERIFY(view);
    expectRow(view);
    if (QTest::currentTestFailed())
        return;

    m_other = deviceInWorkspace(m_fake, m_account);
    QVERIFY(m_other->sync());
    const FNPage *page = m_other->pageWithServerID(m_page.serverID);
    QVERIFY(page);
    m_view.reset();
    view = openPage(*m_other, page->localID);
    QVERIFY(view);
    expectRow(view);
}

QTEST_MAIN(TestDatabaseCells)
#include "tst_database_cells.moc"
