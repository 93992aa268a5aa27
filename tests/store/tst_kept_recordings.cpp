// A kept voice note goes with its block: nothing of a data set that is gone, or of a block that got
// its sound another way, is uploaded or left in the data folder.
#include "fake-service/fake_service.h"
#include "json/json_value.h"
#include "store/kept_recordings.h"
#include "support/test_device.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

class TestKeptRecordings : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void keptRecordingGoesWithItsBlock_data();
    void keptRecordingGoesWithItsBlock();

private:
    FakeService m_fake;
    FakeService::Account m_account;
};

void TestKeptRecordings::initTestCase()
{
    QVERIFY(m_fake.start());
    m_account = m_fake.createAccount(QStringLiteral("kept@example.com"), "secret12", QStringLiteral("K"));
    QVERIFY(!m_account.token.isEmpty());
}

void TestKeptRecordings::keptRecordingGoesWithItsBlock_data()
{
    QTest::addColumn<QString>("change");

    // A logout, or another account's sign-in: the data set is wiped.
    QTest::newRow("data set reset") << "reset";
    QTest::newRow("block deleted") << "deleted";
    // A file attached to the block meanwhile is its sound; the older recording must not replace it.
    QTest::newRow("block given a sound") << "sound";
}

void TestKeptRecordings::keptRecordingGoesWithItsBlock()
{
    QFETCH(QString, change);
    m_fake.clearRequests();
    TestDevice device(m_fake.origin(), m_account.token);
    KeptRecordings kept(device.store(), device.client());
    kept.followEngine(device.engine());
    const FNPage page = device.addPage(m_account.workspaceId, QStringLiteral("Notes"));
    const FNBlock block = device.addBlock(page.localID, QString(), 0);
    device.store().editBlock(block.localID, [](FNBlock &b) { b.type = QStringLiteral("audio"); });

    QTemporaryDir temp;
    const QString recording = temp.filePath(QStringLiteral("pn-rec-1.m4a"));
    {
        QFile file(recording);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("sound");
    }
    QVERIFY(kept.keep(block.localID, recording));
    const QString path = kept.fileOf(block.localID).value_or(QString());
    QVERIFY(QFile::exists(path));
    QVERIFY(!QFile::exists(recording));
    QCOMPARE(kept.count(), 1);

    const QString attached = QStringLiteral("https://files.example.com/talk.m4a");
    if (change == QLatin1String("reset")) {
        device.store().reset();
        QVERIFY(!QFile::exists(path));
    } else if (change == QLatin1String("deleted")) {
        device.store().editBlock(block.localID,
                                 [](FNBlock &b) { b.deletedAt = QDateTime::currentDateTimeUtc(); });
    } else {
        device.store().editBlock(block.localID, [&](FNBlock &b) {
            b.contentJSON = QString::fromUtf8(serializeJSONObject({{QStringLiteral("url"), attached}}));
        });
    }
    QCOMPARE(kept.count(), 0);

    // The next cycle's try lets it go without sending it.
    QVERIFY(device.sync());
    QTRY_VERIFY(!QFile::exists(path));
    QVERIFY(!kept.fileOf(block.localID));
    QVERIFY(m_fake.requestsTo(QStringLiteral("/api/upload.php")).isEmpty());
    if (change == QLatin1String("sound"))
        QCOMPARE(parseJSONObject(device.block(block.localID)->contentJSON.toUtf8()).at(QStringLiteral("url")),
                 JSONValue(attached));
}

QTEST_GUILESS_MAIN(TestKeptRecordings)
#include "tst_kept_recordings.moc"
