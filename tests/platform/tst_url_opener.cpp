#include "platform/diag.h"
#include "platform/recording_url_opener.h"

#include <QTest>

// Addresses come from notes anyone with access may have written: only the web and mail pass.
class TestUrlOpener : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void onlyWebAndMailOpen_data();
    void onlyWebAndMailOpen();
};

void TestUrlOpener::onlyWebAndMailOpen_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<bool>("opens");

    QTest::newRow("http") << "http://example.com/a?b=c#d" << true;
    QTest::newRow("https") << "https://example.com/" << true;
    QTest::newRow("scheme in capitals") << "HTTPS://example.com/" << true;
    QTest::newRow("loopback with a port") << "http://127.0.0.1:8080/forgot.php" << true;
    QTest::newRow("mailto") << "mailto:ann@example.com?subject=Hi" << true;

    QTest::newRow("file") << "file:///etc/passwd" << false;
    QTest::newRow("javascript") << "javascript:alert(1)" << false;
    QTest::newRow("data") << "data:text/html,<script>alert(1)</script>" << false;
    QTest::newRow("ftp") << "ftp://example.com/file" << false;
    QTest::newRow("custom app scheme") << "penroost-derud://open?page=1" << false;
    QTest::newRow("another app's scheme") << "vscode://file/etc/passwd" << false;
    QTest::newRow("smb share") << "smb://host/share" << false;
    QTest::newRow("empty") << "" << false;
    QTest::newRow("bare path") << "/usr/bin/xterm" << false;
    QTest::newRow("relative") << "notes/page.html" << false;
    QTest::newRow("http without a host") << "http:///etc/passwd" << false;
    QTest::newRow("mailto with nobody") << "mailto:" << false;
}

void TestUrlOpener::onlyWebAndMailOpen()
{
    QFETCH(QString, url);
    QFETCH(bool, opens);
    RecordingUrlOpener opener;
    DiagCapture diag;
    QCOMPARE(opener.openUrl(QUrl(url)), opens);
    QCOMPARE(opener.opened(), opens ? QList<QUrl>{QUrl(url)} : QList<QUrl>{});
    QCOMPARE(UrlOpener::isAllowed(QUrl(url)), opens);
    // A refusal is told, without the address itself.
    QCOMPARE(diag.lines().size(), opens ? 0 : 1);
    if (!opens && url.contains(QLatin1Char('/')))
        QVERIFY2(!diag.lines().first().contains(url), qPrintable(diag.lines().first()));
}

QTEST_GUILESS_MAIN(TestUrlOpener)
#include "tst_url_opener.moc"
