#include "platform/icon_theme.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

class TestIconTheme : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void choice_data();
    void choice();
};

void TestIconTheme::choice_data()
{
    QTest::addColumn<QString>("current");
    QTest::addColumn<bool>("fallbackInstalled");
    QTest::addColumn<QString>("expectedTheme");

    QTest::newRow("a desktop's theme stays") << QStringLiteral("breeze") << true << QString();
    QTest::newRow("no theme named") << QString() << true << QStringLiteral("Adwaita");
    QTest::newRow("only the base theme") << QStringLiteral("hicolor") << true << QStringLiteral("Adwaita");
    QTest::newRow("fallback not installed") << QStringLiteral("hicolor") << false << QString();
}

void TestIconTheme::choice()
{
    QFETCH(QString, current);
    QFETCH(bool, fallbackInstalled);
    QFETCH(QString, expectedTheme);

    QTemporaryDir system;
    QVERIFY(system.isValid());
    if (fallbackInstalled) {
        QVERIFY(QDir(system.path()).mkpath(QStringLiteral("Adwaita")));
        QFile index(system.filePath(QStringLiteral("Adwaita/index.theme")));
        QVERIFY(index.open(QIODevice::WriteOnly));
    }
    const QStringList searched{QStringLiteral(":/icons"), system.path()};

    // The system folder is already searched: it is not added twice.
    const IconTheme::Choice choice = IconTheme::choose(current, searched, {system.path()});
    QCOMPARE(choice.theme, expectedTheme);
    QCOMPARE(choice.searchPaths, searched);

    // Searched only after the system's folders are added.
    const IconTheme::Choice widened = IconTheme::choose(current, {QStringLiteral(":/icons")}, {system.path()});
    QCOMPARE(widened.theme, expectedTheme);
    if (!expectedTheme.isEmpty())
        QCOMPARE(widened.searchPaths, searched);
}

QTEST_GUILESS_MAIN(TestIconTheme)
#include "tst_icon_theme.moc"
