#include "api/api_error.h"

#include <QTest>

// Cutting the server's text counts characters as the user sees them, never splitting one.
class TestServerMessage : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void cutsAtTwoHundredGraphemes_data();
    void cutsAtTwoHundredGraphemes();
};

void TestServerMessage::cutsAtTwoHundredGraphemes_data()
{
    QTest::addColumn<QString>("unit");
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("expected");

    const QString flag = QStringLiteral("\U0001F1F3\U0001F1F4"); // two code points, one character
    const QString family = QStringLiteral("\U0001F468\u200D\U0001F469\u200D\U0001F467");
    const QString accented = QStringLiteral("e\u0301");
    QTest::newRow("250 ascii") << "a" << 250 << 200;
    QTest::newRow("200 ascii") << "a" << 200 << 200;
    QTest::newRow("199 ascii") << "a" << 199 << 199;
    QTest::newRow("250 flags") << flag << 250 << 200;
    QTest::newRow("201 families") << family << 201 << 200;
    QTest::newRow("250 combining") << accented << 250 << 200;
}

void TestServerMessage::cutsAtTwoHundredGraphemes()
{
    QFETCH(QString, unit);
    QFETCH(int, count);
    QFETCH(int, expected);
    const QString text = unit.repeated(count);
    const QString body = QStringLiteral("{\"error\":\"%1\"}").arg(text);
    const auto m = serverMessage(body);
    QVERIFY(m.has_value());
    QCOMPARE(*m, unit.repeated(expected));
}

QTEST_GUILESS_MAIN(TestServerMessage)
#include "tst_server_message.moc"
