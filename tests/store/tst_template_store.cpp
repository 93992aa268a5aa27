#include "platform/diag.h"
#include "platform/settings.h"
#include "store/template_store.h"

#include <QSignalSpy>
#include <QTest>

namespace {

const QString kKey = QStringLiteral("pn.templates");
const QString kSideKey = QStringLiteral("pn.templates.unreadable");

PageTemplate sample(const QString &id, const QString &name)
{
    return {.id = id,
            .name = name,
            .title = QStringLiteral("Weekly ✓"),
            .icon = QStringLiteral("🗓"),
            .blocks = {{.type = QStringLiteral("h1"), .contentJSON = QStringLiteral(R"({"text":"Agenda"})"), .parent = {}},
                       {.type = QStringLiteral("todo"),
                        .contentJSON = QStringLiteral(R"({"text":"","checked":false})"),
                        .parent = {}}}};
}

} // namespace

class TestTemplateStore : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void firstLaunchIsEmpty();
    void storedTextIsTheWholeList();
    void addAppendsOrReplacesById();
    void nestingIsStoredOnlyWhereSet_data();
    void nestingIsStoredOnlyWhereSet();
    void persistsAcrossAFreshStore();
    void deletingTheLastOneStoresAnEmptyArray();
    void undecodableListIsKeptAside_data();
    void undecodableListIsKeptAside();
    void laterUnreadableValuesDoNotOverwrite();
};

void TestTemplateStore::firstLaunchIsEmpty()
{
    const auto settings = Settings::temporary();
    DiagCapture diag;
    TemplateStore store(*settings);
    QVERIFY(store.templates().empty());
    QVERIFY(!settings->contains(kKey));
    QVERIFY(!settings->contains(kSideKey));
    QVERIFY(diag.lines().isEmpty());
}

void TestTemplateStore::storedTextIsTheWholeList()
{
    const auto settings = Settings::temporary();
    TemplateStore store(*settings);
    store.add(sample(QStringLiteral("T1"), QStringLiteral("Weekly")));
    QCOMPARE(*settings->jsonText(kKey),
             QByteArray(R"([{"id":"T1","name":"Weekly","title":"Weekly ✓","icon":"🗓","blocks":[)"
                        R"({"type":"h1","contentJSON":"{\"text\":\"Agenda\"}"},)"
                        R"({"type":"todo","contentJSON":"{\"text\":\"\",\"checked\":false}"}]}])"));
}

void TestTemplateStore::addAppendsOrReplacesById()
{
    const auto settings = Settings::temporary();
    TemplateStore store(*settings);
    QSignalSpy changed(&store, &TemplateStore::templatesChanged);
    const PageTemplate a = sample(QStringLiteral("A"), QStringLiteral("first"));
    const PageTemplate b = sample(QStringLiteral("B"), QStringLiteral("second"));
    PageTemplate a2 = sample(QStringLiteral("A"), QStringLiteral("first, again"));
    a2.blocks.clear();

    store.add(a);
    store.add(b);
    store.add(a2);
    QCOMPARE(store.templates(), (std::vector<PageTemplate>{b, a2}));
    QCOMPARE(changed.count(), 3);
    QCOMPARE(TemplateStore(*settings).templates(), store.templates());
}

void TestTemplateStore::nestingIsStoredOnlyWhereSet_data()
{
    QTest::addColumn<QByteArray>("stored");
    QTest::addColumn<QList<qint64>>("parents"); // -1: at the top level
    QTest::newRow("older build: no parents")
        << QByteArray(R"([{"id":"T","name":"N","title":"","icon":"","blocks":[)"
                      R"({"type":"toggle","contentJSON":"{}"},{"type":"text","contentJSON":"{}"}]}])")
        << QList<qint64>{-1, -1};
    QTest::newRow("a child under the first block")
        << QByteArray(R"([{"id":"T","name":"N","title":"","icon":"","blocks":[)"
                      R"({"type":"toggle","contentJSON":"{}"},{"type":"text","contentJSON":"{}","parent":0}]}])")
        << QList<qint64>{-1, 0};
}

void TestTemplateStore::nestingIsStoredOnlyWhereSet()
{
    QFETCH(QByteArray, stored);
    QFETCH(QList<qint64>, parents);
    const auto settings = Settings::temporary();
    settings->setJSONText(kKey, stored);
    TemplateStore store(*settings);
    QCOMPARE(store.templates().size(), size_t(1));
    QList<qint64> read;
    for (const TemplateBlock &b : store.templates()[0].blocks)
        read << b.parent.value_or(-1);
    QCOMPARE(read, parents);
    store.save();
    QCOMPARE(*settings->jsonText(kKey), stored);
}

void TestTemplateStore::persistsAcrossAFreshStore()
{
    const auto settings = Settings::temporary();
    PageTemplate empty = sample(QStringLiteral("E"), QStringLiteral("no blocks"));
    empty.blocks.clear();
    const std::vector<PageTemplate> expected{sample(QStringLiteral("T"), QStringLiteral("Weekly")), empty};
    {
        TemplateStore store(*settings);
        for (const auto &t : expected)
            store.add(t);
    }
    Settings reopened(settings->filePath());
    QCOMPARE(TemplateStore(reopened).templates(), expected);
}

void TestTemplateStore::deletingTheLastOneStoresAnEmptyArray()
{
    const auto settings = Settings::temporary();
    TemplateStore store(*settings);
    store.add(sample(QStringLiteral("T"), QStringLiteral("Weekly")));
    QSignalSpy changed(&store, &TemplateStore::templatesChanged);
    store.setTemplates({});
    QCOMPARE(changed.count(), 1);
    store.save();
    QCOMPARE(settings->jsonText(kKey), QByteArray("[]"));
}

void TestTemplateStore::undecodableListIsKeptAside_data()
{
    QTest::addColumn<QByteArray>("stored");

    QTest::newRow("one template without id")
        << QByteArray(R"([{"id":"A","name":"n","title":"t","icon":"","blocks":[]},)"
                      R"({"name":"n","title":"t","icon":"","blocks":[]}])");
    QTest::newRow("content as an object") << QByteArray(
        R"([{"id":"A","name":"n","title":"t","icon":"","blocks":[{"type":"h1","contentJSON":{}}]}])");
    QTest::newRow("not an array") << QByteArray(R"({"id":"A"})");
    QTest::newRow("not JSON") << QByteArray("[{\"id\":");
}

void TestTemplateStore::undecodableListIsKeptAside()
{
    QFETCH(QByteArray, stored);
    const auto settings = Settings::temporary();
    settings->setJSONText(kKey, stored);

    DiagCapture diag;
    {
        TemplateStore store(*settings);
        QVERIFY(store.templates().empty());
        QCOMPARE(diag.lines().size(), 1);
        QVERIFY(diag.lines().first().contains(kSideKey));
        QCOMPARE(settings->jsonText(kSideKey), stored);
        QCOMPARE(settings->jsonText(kKey), stored); // loading leaves the stored value alone

        store.add(sample(QStringLiteral("T"), QStringLiteral("Weekly")));
    }
    Settings reopened(settings->filePath());
    QCOMPARE(reopened.jsonText(kSideKey), stored);
    QCOMPARE(TemplateStore(reopened).templates().size(), size_t(1));
    QCOMPARE(diag.lines().size(), 1);
}

void TestTemplateStore::laterUnreadableValuesDoNotOverwrite()
{
    const auto settings = Settings::temporary();
    DiagCapture diag;
    settings->setJSONText(kKey, "first");
    {
        TemplateStore store(*settings);
    }
    {
        TemplateStore store(*settings);
    } // the same value again is kept once
    settings->setJSONText(kKey, "second");
    {
        TemplateStore store(*settings);
    }
    QCOMPARE(settings->jsonText(kSideKey), QByteArray("first"));
    QCOMPARE(settings->jsonText(kSideKey + QStringLiteral("-2")), QByteArray("second"));
    QVERIFY(!settings->contains(kSideKey + QStringLiteral("-3")));
    QCOMPARE(diag.lines().size(), 2);
}

QTEST_GUILESS_MAIN(TestTemplateStore)
#include "tst_template_store.moc"
