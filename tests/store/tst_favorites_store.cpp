#include "platform/settings.h"
#include "store/favorites_store.h"

#include <QSignalSpy>
#include <QTest>

namespace {

const QString kKey = QStringLiteral("pn.favorites");

QSet<QString> set(const QStringList &ids)
{
    return QSet<QString>(ids.cbegin(), ids.cend());
}

} // namespace

class TestFavoritesStore : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void firstLaunchIsEmpty();
    void toggleSavesTheWholeSet();
    void persistsAcrossAFreshStore();
    void directChangePersistsOnlyWhenSaved();
    void storedValues_data();
    void storedValues();
};

void TestFavoritesStore::firstLaunchIsEmpty()
{
    const auto settings = Settings::temporary();
    FavoritesStore store(*settings);
    QVERIFY(store.ids().isEmpty());
    QVERIFY(!settings->contains(kKey));
}

void TestFavoritesStore::toggleSavesTheWholeSet()
{
    const auto settings = Settings::temporary();
    FavoritesStore store(*settings);
    QSignalSpy changed(&store, &FavoritesStore::idsChanged);

    store.toggle(QStringLiteral("P2"));
    store.toggle(QStringLiteral("P1"));
    QCOMPARE(store.ids(), set({QStringLiteral("P1"), QStringLiteral("P2")}));
    QCOMPARE(settings->jsonText(kKey), QByteArray(R"(["P1","P2"])"));

    store.toggle(QStringLiteral("P1"));
    store.toggle(QStringLiteral("P2"));
    QVERIFY(store.ids().isEmpty());
    // An empty set is stored as an empty array, not as a missing key.
    QCOMPARE(settings->jsonText(kKey), QByteArray("[]"));
    QCOMPARE(changed.count(), 4);
}

void TestFavoritesStore::persistsAcrossAFreshStore()
{
    const auto settings = Settings::temporary();
    {
        FavoritesStore store(*settings);
        store.toggle(QStringLiteral("A"));
        store.toggle(QStringLiteral("Ü"));
    }
    Settings reopened(settings->filePath());
    FavoritesStore store(reopened);
    QCOMPARE(store.ids(), set({QStringLiteral("A"), QStringLiteral("Ü")}));
}

void TestFavoritesStore::directChangePersistsOnlyWhenSaved()
{
    const auto settings = Settings::temporary();
    FavoritesStore store(*settings);
    QSignalSpy changed(&store, &FavoritesStore::idsChanged);
    store.setIds(set({QStringLiteral("X")}));
    QCOMPARE(changed.count(), 1);
    QVERIFY(FavoritesStore(*settings).ids().isEmpty());
    store.save();
    QCOMPARE(FavoritesStore(*settings).ids(), set({QStringLiteral("X")}));
}

void TestFavoritesStore::storedValues_data()
{
    QTest::addColumn<QByteArray>("stored");
    QTest::addColumn<QStringList>("ids");

    QTest::newRow("duplicates collapse") << QByteArray(R"(["a","b","a"])") << QStringList{"a", "b"};
    QTest::newRow("empty array") << QByteArray("[]") << QStringList{};
    QTest::newRow("a string") << QByteArray(R"("a")") << QStringList{};
    QTest::newRow("numbers") << QByteArray("[1,2]") << QStringList{};
    QTest::newRow("one number among strings") << QByteArray(R"(["a",1])") << QStringList{};
    QTest::newRow("object") << QByteArray(R"({"a":true})") << QStringList{};
    QTest::newRow("null") << QByteArray("null") << QStringList{};
    QTest::newRow("not JSON") << QByteArray("[a, b") << QStringList{};
}

void TestFavoritesStore::storedValues()
{
    QFETCH(QByteArray, stored);
    QFETCH(QStringList, ids);
    const auto settings = Settings::temporary();
    settings->setJSONText(kKey, stored);
    FavoritesStore store(*settings);
    QCOMPARE(store.ids(), set(ids));

    store.save();
    QStringList sorted = ids;
    sorted.sort();
    QByteArray expected = "[";
    for (const auto &id : sorted)
        expected += (expected.size() > 1 ? ",\"" : "\"") + id.toUtf8() + "\"";
    QCOMPARE(settings->jsonText(kKey), expected + "]");
}

QTEST_GUILESS_MAIN(TestFavoritesStore)
#include "tst_favorites_store.moc"
