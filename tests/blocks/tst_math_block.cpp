#include "blocks/math_block.h"
#include "editor/editor_fixture.h"
#include "fake-service/fake_service.h"
#include "platform/memory_secret_backend.h"
#include "support/device_services.h"
#include "support/editor_steps.h"
#include "support/service_page.h"

#include <QLabel>
#include <QSignalSpy>

class TestMathBlock : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void typingBurstWritesOnce();
    void viewGoneBeforeThePauseStillWritesOnce();
    void storedSourceFillsTheFieldWithoutAWrite_data();
    void storedSourceFillsTheFieldWithoutAWrite();
    void aPullShowsInTheField();
    void fieldGrowsFromOneToEightLines();

private:
    static MathBlockView *viewOf(BlockRow *row) { return qobject_cast<MathBlockView *>(row->kindView()); }
    static QString stored(EditorFixture &fx, const QString &localID)
    {
        return BlockContent::readString(fx.storedContent(localID), QStringLiteral("latex"));
    }
};

void TestMathBlock::typingBurstWritesOnce()
{
    EditorFixture fx;
    const FNBlock block = fx.addBlock(QStringLiteral("math"));
    MathBlockView *view = viewOf(fx.addRow(block));
    QVERIFY(view);
    QStringList texts;
    for (QLabel *label : view->findChildren<QLabel *>())
        texts << label->text();
    QVERIFY(texts.contains(QStringLiteral("LaTeX")));
    QVERIFY(texts.contains(QStringLiteral("Rendered on publish")));

    QVERIFY(fx.showAndType(view->sourceField(), QStringLiteral("x^2 + ")));
    QTest::keyClick(view->sourceField(), Qt::Key_Return);
    QTest::keyClicks(view->sourceField(), QStringLiteral("\\frac{a}{b} "));
    QCOMPARE(fx.changes(), 0);
    QTRY_COMPARE(stored(fx, block.localID), QStringLiteral("x^2 + \n\\frac{a}{b} "));
    QVERIFY(EditorFixture::waitPastTextDelay());
    QCOMPARE(fx.changes(), 1);

    // Cleared: stored as empty text, the placeholder shows.
    view->sourceField()->selectAll();
    QTest::keyClick(view->sourceField(), Qt::Key_Backspace);
    QTRY_COMPARE(fx.changes(), 2);
    QCOMPARE(stored(fx, block.localID), QString());
    QCOMPARE(view->sourceField()->placeholderText(),
             QStringLiteral("e.g. x = \\frac{-b \\pm \\sqrt{b^2 - 4ac}}{2a}"));
}

void TestMathBlock::viewGoneBeforeThePauseStillWritesOnce()
{
    EditorFixture fx;
    const FNBlock block =
        fx.addBlock(QStringLiteral("math"), {{QStringLiteral("latex"), QStringLiteral("a")}});
    BlockRow *row = fx.addRow(block);
    FakeService fake;
    const QString token =
        EditorSteps::startWithAccount(fake, QStringLiteral("math@example.com"), QStringLiteral("M"));
    QTemporaryDir worldDir;
    DeviceServices world(worldDir.filePath(QStringLiteral("settings.ini")),
                         std::make_shared<MemorySecretBackend>(), fake.origin());
    world.setToken(token);
    ServicePage service(fake, token, fx.store(), world.client);
    QVERIFY(service.isValid());
    const auto writes = fx.countContentWrites(block.localID);
    QVERIFY(fx.showWindow() && EditorFixture::focusOn(viewOf(row)->sourceField()));
    QTest::keyClick(viewOf(row)->sourceField(), Qt::Key_End);
    QTest::keyClicks(viewOf(row)->sourceField(), QStringLiteral("+b"));
    delete row;
    QTRY_COMPARE(stored(fx, block.localID), QStringLiteral("a+b"));
    QVERIFY(EditorFixture::waitPastTextDelay());
    QCOMPARE(*writes, 1);
    // Typed less than a pause before the page went: it still reaches the service and other devices.
    QVERIFY(service.push());
    const auto onService = service.serviceContent(block.localID);
    QVERIFY(onService);
    QCOMPARE(onService->at(QStringLiteral("latex")).toString(), QStringLiteral("a+b"));
    QCOMPARE(service.otherDeviceContent(block.localID), onService);
}

void TestMathBlock::storedSourceFillsTheFieldWithoutAWrite_data()
{
    QTest::addColumn<JSONValue>("latex");
    QTest::addColumn<QString>("shown");
    QTest::newRow("a formula") << JSONValue(QStringLiteral("E = mc^2")) << "E = mc^2";
    QTest::newRow("several lines, untrimmed") << JSONValue(QStringLiteral(" a \\\\\n b ")) << " a \\\\\n b ";
    QTest::newRow("not a string") << JSONValue(qint64(7)) << "";
    QTest::newRow("missing") << JSONValue() << "";
}

void TestMathBlock::storedSourceFillsTheFieldWithoutAWrite()
{
    QFETCH(JSONValue, latex);
    QFETCH(QString, shown);
    EditorFixture fx;
    JSONObject content;
    if (!latex.isNull())
        content[QStringLiteral("latex")] = latex;
    const FNBlock block = fx.addBlock(QStringLiteral("math"), content);
    MathBlockView *view = viewOf(fx.addRow(block));
    QCOMPARE(view->sourceField()->toPlainText(), shown);
    QVERIFY(EditorFixture::waitPastTextDelay());
    QCOMPARE(fx.changes(), 0);
    QCOMPARE(fx.stored(block.localID).contentJSON, block.contentJSON);
}

void TestMathBlock::aPullShowsInTheField()
{
    EditorFixture fx;
    const FNBlock block =
        fx.addBlock(QStringLiteral("math"), {{QStringLiteral("latex"), QStringLiteral("mine")}});
    MathBlockView *view = viewOf(fx.addRow(block));
    FNBlock pulled = fx.stored(block.localID);
    pulled.contentJSON = QStringLiteral("{\"latex\":\"theirs\"}");
    fx.store().upsertBlock(pulled);
    QCOMPARE(view->sourceField()->toPlainText(), QStringLiteral("theirs"));
    // The next edit starts from the other device's source.
    QVERIFY(fx.showAndType(view->sourceField(), QStringLiteral("!")));
    QTRY_COMPARE(stored(fx, block.localID), QStringLiteral("!theirs"));
}

void TestMathBlock::fieldGrowsFromOneToEightLines()
{
    EditorFixture fx;
    const FNBlock block = fx.addBlock(QStringLiteral("math"));
    MathBlockView *view = viewOf(fx.addRow(block));
    QVERIFY(fx.showWindow());
    GrowingTextEdit *field = view->sourceField();
    const auto heightWith = [field](int lines) {
        QStringList text;
        for (int i = 0; i < lines; ++i)
            text << QStringLiteral("x");
        field->setPlainText(text.join(QLatin1Char('\n')));
        QCoreApplication::processEvents();
        return field->height();
    };
    const int one = heightWith(1);
    const int two = heightWith(2);
    const int eight = heightWith(8);
    QVERIFY(two > one);
    QCOMPARE(eight - one, 7 * (two - one));
    QCOMPARE(heightWith(12), eight);
    QCOMPARE(heightWith(0), one);
}

QTEST_MAIN(TestMathBlock)
#include "tst_math_block.moc"
