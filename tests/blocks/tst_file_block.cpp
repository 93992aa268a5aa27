#include "blocks/file_block.h"
#include "editor/editor_fixture.h"
#include "fake-service/fake_service.h"
#include "fake-service/fake_upload_routes.h"
#include "platform/diag.h"
#include "platform/memory_secret_backend.h"
#include "platform/preset_file_picker.h"
#include "platform/recording_url_opener.h"
#include "support/device_services.h"
#include "support/editor_steps.h"

#include <QTemporaryDir>

class TestFileBlock : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void sizeLine_data();
    void sizeLine();
    void icon_data();
    void icon();
    void nameLine();
    void attachThenOpen();
    void unparsableAddressOpensNothing();

private:
    BlockRow *fileRow(const JSONObject &content);
    static FileBlockView *viewOf(BlockRow *row) { return qobject_cast<FileBlockView *>(row->kindView()); }

    FakeService m_fake;
    QString m_token;
    std::unique_ptr<EditorFixture> m_fx;
    QTemporaryDir m_worldDir;
    std::unique_ptr<DeviceServices> m_world;
    std::shared_ptr<PresetFilePicker> m_picker;
    RecordingUrlOpener m_opener;
    FNBlock m_lastBlock;
};

void TestFileBlock::initTestCase()
{
    m_token = EditorSteps::startWithAccount(m_fake, QStringLiteral("file@example.com"), QStringLiteral("F"));
    QVERIFY(!m_token.isEmpty());
}

void TestFileBlock::init()
{
    EditorSteps::useFake(m_fake);
    m_fx = std::make_unique<EditorFixture>();
    m_world = std::make_unique<DeviceServices>(m_worldDir.filePath(QStringLiteral("settings.ini")),
                                               std::make_shared<MemorySecretBackend>(), m_fake.origin());
    m_world->setToken(m_token);
    m_picker = std::make_shared<PresetFilePicker>();
}

void TestFileBlock::cleanup()
{
    m_fx.reset();
    m_world.reset();
}

BlockRow *TestFileBlock::fileRow(const JSONObject &content)
{
    m_lastBlock = m_fx->addBlock(QStringLiteral("file"), content);
    BlockRow *row = m_fx->addRow(m_lastBlock);
    row->setMediaServices({&m_world->client, nullptr, m_picker, {}, &m_opener});
    return row;
}

void TestFileBlock::sizeLine_data()
{
    QTest::addColumn<JSONValue>("size");
    QTest::addColumn<QString>("line");
    QTest::newRow("none") << JSONValue(qint64(0)) << "\u2014";
    QTest::newRow("missing") << JSONValue() << "\u2014";
    QTest::newRow("fractional") << JSONValue(2.5) << "\u2014";
    QTest::newRow("negative") << JSONValue(qint64(-4)) << "\u2014";
    QTest::newRow("one byte") << JSONValue(qint64(1)) << "1 KB";
    QTest::newRow("999 bytes") << JSONValue(qint64(999)) << "1 KB";
    QTest::newRow("2048 bytes") << JSONValue(qint64(2048)) << "2 KB";
    QTest::newRow("999,499 bytes") << JSONValue(qint64(999'499)) << "999 KB";
    QTest::newRow("999,600 bytes") << JSONValue(qint64(999'600)) << "1 MB";
    QTest::newRow("1,500,000 bytes") << JSONValue(qint64(1'500'000)) << "1.5 MB";
    QTest::newRow("2,000,000 bytes") << JSONValue(qint64(2'000'000)) << "2 MB";
    QTest::newRow("1.25 GB") << JSONValue(qint64(1'250'000'000)) << "1.25 GB";
    QTest::newRow("never TB") << JSONValue(qint64(5'000'000'000'000)) << "5,000 GB";
}

void TestFileBlock::sizeLine()
{
    QFETCH(JSONValue, size);
    QFETCH(QString, line);
    JSONObject content{{QStringLiteral("url"), QStringLiteral("https://example.com/f")}};
    if (!size.isNull())
        content[QStringLiteral("size")] = size;
    FileBlockView *view = viewOf(fileRow(content));
    QVERIFY(view->sizeLabel());
    QCOMPARE(view->sizeLabel()->text(), line);
}

void TestFileBlock::icon_data()
{
    QTest::addColumn<QString>("filename");
    QTest::addColumn<QString>("symbol");
    QTest::newRow("PDF in capitals") << "Report.PDF"
                                     << "doc.richtext";
    QTest::newRow("docx") << "letter.docx"
                          << "doc.text";
    QTest::newRow("csv") << "numbers.Csv"
                         << "tablecells";
    QTest::newRow("xls") << "old.xls"
                         << "tablecells";
    QTest::newRow("zip") << "photos.zip"
                         << "archivebox";
    QTest::newRow("json") << "data.json"
                          << "doc.plaintext";
    QTest::newRow(".tar.gz: only the last extension") << "backup.tar.gz"
                                                      << "doc";
    QTest::newRow("no extension") << "README"
                                  << "doc";
    QTest::newRow("ends in a full stop") << "odd."
                                         << "doc";
    QTest::newRow("no name") << ""
                             << "doc";
}

void TestFileBlock::icon()
{
    QFETCH(QString, filename);
    QFETCH(QString, symbol);
    FileBlockView *view = viewOf(fileRow({{QStringLiteral("url"), QStringLiteral("https://example.com/f")},
                                          {QStringLiteral("filename"), filename}}));
    QCOMPARE(view->iconName(), symbol);
}

void TestFileBlock::nameLine()
{
    FileBlockView *view = viewOf(fileRow({{QStringLiteral("url"), QStringLiteral("https://example.com/f")}}));
    QCOMPARE(view->nameLabel()->text(), QStringLiteral("Attachment"));
    QVERIFY(!view->attachButton());
    FileBlockView *empty = viewOf(fileRow({}));
    QVERIFY(!empty->fileRow());
    QVERIFY(empty->attachButton()->text().endsWith(QStringLiteral("Attach a file")));
}

void TestFileBlock::attachThenOpen()
{
    BlockRow *row = fileRow({});
    QVERIFY(m_fx->showWindow());
    QTemporaryDir files;
    m_picker->setAnswer(EditorSteps::writeFile(files.filePath(QStringLiteral("Budget 2024.xlsx")),
                                               QByteArray(1'500'000, 'x')));
    QTest::mouseClick(viewOf(row)->attachButton(), Qt::LeftButton);
    QTRY_VERIFY(viewOf(row)->fileRow());
    QCOMPARE(m_picker->requests(), QList<FilePicker::Filter>{FilePicker::Filter::AnyFile});
    QCOMPARE(FakeUploadRoutes::of(m_fake).files().rbegin()->second.kind, QStringLiteral("any"));
    FileBlockView *view = viewOf(row);
    QCOMPARE(view->nameLabel()->text(), QStringLiteral("Budget 2024.xlsx"));
    QCOMPARE(view->sizeLabel()->text(), QStringLiteral("1.5 MB"));
    QCOMPARE(view->iconName(), QStringLiteral("tablecells"));

    QTest::mouseClick(view->fileRow(), Qt::LeftButton);
    const QString stored =
        BlockContent::readString(m_fx->storedContent(m_lastBlock.localID), QStringLiteral("url"));
    QCOMPARE(m_opener.opened(), QList<QUrl>{QUrl(stored)});
}

void TestFileBlock::unparsableAddressOpensNothing()
{
    FileBlockView *view = viewOf(fileRow({{QStringLiteral("url"), QStringLiteral("https://[oops/file.pdf")},
                                          {QStringLiteral("filename"), QStringLiteral("a.pdf")}}));
    QVERIFY(view->fileRow());
    DiagCapture diag;
    const qsizetype openedBefore = m_opener.opened().size();
    view->fileRow()->click();
    // "about:blank" stands in for it, and the opener refuses that.
    QCOMPARE(m_opener.opened().size(), openedBefore);
    QVERIFY(diag.contains(QStringLiteral("\"about\"")));
}

QTEST_MAIN(TestFileBlock)
#include "tst_file_block.moc"
