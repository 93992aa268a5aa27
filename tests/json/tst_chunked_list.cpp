#include "json/chunked_list.h"
#include "json/json_fields.h"

#include <QString>
#include <QTest>

#include <algorithm>
#include <random>
#include <vector>

namespace {

struct Item {
    QString text;
    int n = 0;
    friend bool operator==(const Item &, const Item &) = default;
};

// A chunk's worth and a bit: enough to cross chunk edges both ways.
constexpr int kAcrossChunks = 700;

bool same(const ChunkedList<Item> &list, const std::vector<Item> &model)
{
    if (list.size() != model.size() || list.empty() != model.empty())
        return false;
    for (size_t i = 0; i < model.size(); ++i) {
        if (!(list[i] == model[i]))
            return false;
    }
    // Walked by iterator too, both ways.
    if (!std::equal(list.begin(), list.end(), model.begin(), model.end()))
        return false;
    return std::equal(std::make_reverse_iterator(list.end()), std::make_reverse_iterator(list.begin()),
                      model.rbegin(), model.rend());
}

Item item(int n)
{
    return {QString::number(n), n};
}

} // namespace

class TestChunkedList : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void keepsTheOrderAVectorWould_data();
    void keepsTheOrderAVectorWould();
    void growingLeavesRecordsWhereTheyAre();
    void readsAndWritesAsAJsonArray();
};

// Each step of a seeded run of edits is done to a vector alongside, and the two must match after it.
void TestChunkedList::keepsTheOrderAVectorWould_data()
{
    QTest::addColumn<unsigned>("seed");
    QTest::addColumn<int>("growEvery"); // one step in this many only appends
    QTest::addRow("mostly growing") << 7u << 2;
    QTest::addRow("edits in between") << 11u << 5;
    QTest::addRow("shrinking to nothing and back") << 23u << 9;
}

void TestChunkedList::keepsTheOrderAVectorWould()
{
    QFETCH(unsigned, seed);
    QFETCH(int, growEvery);
    std::mt19937 rng(seed);
    const auto pick = [&](size_t n) { return n == 0 ? size_t(0) : size_t(rng() % n); };
    ChunkedList<Item> list;
    std::vector<Item> model;
    for (int step = 0; step < 3000; ++step) {
        const int action = step % growEvery == 0 ? 0 : int(rng() % 7);
        switch (action) {
        case 0:
        case 1:
            list.push_back(item(step));
            model.push_back(item(step));
            break;
        case 2: {
            const size_t at = pick(model.size() + 1);
            const auto placed = list.insert(list.cbegin() + std::ptrdiff_t(at), item(step));
            model.insert(model.begin() + std::ptrdiff_t(at), item(step));
            QCOMPARE(placed - list.begin(), std::ptrdiff_t(at));
            break;
        }
        case 3: {
            const size_t at = pick(model.size() + 1);
            std::vector<Item> some(pick(kAcrossChunks), item(-step));
            list.insert(list.cbegin() + std::ptrdiff_t(at), some.begin(), some.end());
            model.insert(model.begin() + std::ptrdiff_t(at), some.begin(), some.end());
            break;
        }
        case 4:
            if (!model.empty()) {
                const size_t at = pick(model.size());
                list.erase(list.cbegin() + std::ptrdiff_t(at));
                model.erase(model.begin() + std::ptrdiff_t(at));
            }
            break;
        case 5: {
            const size_t from = pick(model.size() + 1);
            const size_t to = from + pick(std::min<size_t>(model.size() - from, kAcrossChunks) + 1);
            const auto after =
                list.erase(list.cbegin() + std::ptrdiff_t(from), list.cbegin() + std::ptrdiff_t(to));
            model.erase(model.begin() + std::ptrdiff_t(from), model.begin() + std::ptrdiff_t(to));
            QCOMPARE(after - list.begin(), std::ptrdiff_t(from));
            break;
        }
        case 6:
            if (step % 500 == 6) {
                list.clear();
                model.clear();
            } else if (!model.empty()) {
                list.pop_back();
                model.pop_back();
            }
            break;
        }
        if (!same(list, model))
            QFAIL(qPrintable(QStringLiteral("differs after step %1 (action %2)").arg(step).arg(action)));
    }
    // A copy is its own list.
    ChunkedList<Item> copy = list;
    QVERIFY(copy == list);
    if (!model.empty()) {
        copy.back().n = -1;
        QVERIFY(!(copy == list));
    }
}

void TestChunkedList::growingLeavesRecordsWhereTheyAre()
{
    ChunkedList<Item> list;
    std::vector<const Item *> addresses;
    for (int i = 0; i < 5000; ++i) {
        addresses.push_back(&list.emplace_back(item(i)));
    }
    for (int i = 0; i < 5000; ++i) {
        QCOMPARE(&list[size_t(i)], addresses[size_t(i)]);
        QCOMPARE(list[size_t(i)].n, i);
    }
    // A copy too, in a chunk it had partly filled.
    list.pop_back();
    ChunkedList<Item> copy;
    copy = list;
    const Item *last = &copy.back();
    for (int i = 0; i < 300; ++i)
        copy.push_back(item(i));
    QCOMPARE(&copy[list.size() - 1], last);
    QCOMPARE(copy[list.size() - 1].n, 4998);
}

void TestChunkedList::readsAndWritesAsAJsonArray()
{
    ChunkedList<QString> list;
    for (int i = 0; i < kAcrossChunks; ++i)
        list.push_back(QString::number(i));
    JsonWriter w;
    w.value(list);
    const QByteArray text = w.bytes();
    rapidjson::Document doc;
    doc.Parse(text.constData(), size_t(text.size()));
    QVERIFY(doc.IsArray());
    QCOMPARE(doc.Size(), rapidjson::SizeType(kAcrossChunks));
    QVERIFY(json::read<ChunkedList<QString>>(doc) == list);
    // It hashes as the vector with the same items does.
    const std::vector<QString> same(list.begin(), list.end());
    QCOMPARE(json::hashOf(list, 5), json::hashOf(same, 5));
}

QTEST_GUILESS_MAIN(TestChunkedList)
#include "tst_chunked_list.moc"
