#include "blocks/block_content.h"
#include "blocks/block_type.h"
#include "editor/drop_first_characters.h"

#include <QTest>

class TestBlockContent : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void kinds();
    void fromRawValue_data();
    void fromRawValue();
    void decode_data();
    void decode();
    void typedReads();
    void encodeRefusesNonFinite();
    void dropFirstCharacters_data();
    void dropFirstCharacters();
};

void TestBlockContent::kinds()
{
    const auto &all = BlockType::allCases();
    QCOMPARE(all.size(), size_t(26));
    QCOMPARE(all.front().rawValue(), QStringLiteral("text"));
    QCOMPARE(all.back().rawValue(), QStringLiteral("database"));
    QStringList labels;
    for (const BlockType kind : all) {
        labels << kind.label();
        QCOMPARE(BlockType::fromRawValue(kind.rawValue()), std::optional<BlockType>(kind));
    }
    QCOMPARE(labels, (QStringList{"Text",
                                  "Heading 1",
                                  "Heading 2",
                                  "Heading 3",
                                  "Bullet list",
                                  "Numbered list",
                                  "To-do",
                                  "Quote",
                                  "Callout",
                                  "Code",
                                  "Divider",
                                  "Toggle",
                                  "Image",
                                  "Drawing",
                                  "Audio / voice note",
                                  "File attachment",
                                  "Embed (YouTube, Vimeo, iframe)",
                                  "Bookmark",
                                  "Math (LaTeX)",
                                  "Table of contents",
                                  "Page link",
                                  "Breadcrumbs",
                                  "Button",
                                  "Columns",
                                  "Synced block",
                                  "Database"}));
}

void TestBlockContent::fromRawValue_data()
{
    QTest::addColumn<QString>("raw");
    QTest::addColumn<bool>("known");
    QTest::newRow("toc") << "toc" << true;
    QTest::newRow("Text") << "Text" << false;
    QTest::newRow("heading") << "heading" << false;
    QTest::newRow("empty") << "" << false;
    QTest::newRow("trailing space") << "h1 " << false;
}

void TestBlockContent::fromRawValue()
{
    QFETCH(QString, raw);
    QFETCH(bool, known);
    QCOMPARE(BlockType::fromRawValue(raw).has_value(), known);
}

void TestBlockContent::decode_data()
{
    QTest::addColumn<QString>("json");
    QTest::addColumn<int>("keys");
    QTest::newRow("empty object") << "{}" << 0;
    QTest::newRow("empty text") << "" << 0;
    QTest::newRow("array") << "[1,2]" << 0;
    QTest::newRow("scalar") << "\"text\"" << 0;
    QTest::newRow("malformed") << "{\"text\":" << 0;
    QTest::newRow("object") << "{\"text\":\"a\",\"url\":\"x\"}" << 2;
}

void TestBlockContent::decode()
{
    QFETCH(QString, json);
    QFETCH(int, keys);
    QCOMPARE(int(BlockContent::decode(json).size()), keys);
}

void TestBlockContent::typedReads()
{
    const JSONObject content = BlockContent::decode(QStringLiteral(
        R"({"text":5,"label":"go","checked":1,"expanded":true,"count":3,"id":"3","height":120.5,"h2":200})"));
    QCOMPARE(BlockContent::readString(content, QStringLiteral("text")), QString());
    QCOMPARE(BlockContent::readString(content, QStringLiteral("label")), QStringLiteral("go"));
    QCOMPARE(BlockContent::readString(content, QStringLiteral("missing"), QStringLiteral("d")),
             QStringLiteral("d"));
    QCOMPARE(BlockContent::readBool(content, QStringLiteral("checked")), false);
    QCOMPARE(BlockContent::readBool(content, QStringLiteral("expanded")), true);
    QCOMPARE(BlockContent::readInt(content, QStringLiteral("count"), 2), 3);
    QCOMPARE(BlockContent::readInt(content, QStringLiteral("id"), 0), 0);
    QCOMPARE(BlockContent::readOptionalInt(content, QStringLiteral("label")), std::nullopt);
    QCOMPARE(BlockContent::readDouble(content, QStringLiteral("height"), 240), 120.5);
    QCOMPARE(BlockContent::readDouble(content, QStringLiteral("h2"), 240), 200.0);
    QCOMPARE(BlockContent::readDouble(content, QStringLiteral("label"), 240), 240.0);
}

void TestBlockContent::encodeRefusesNonFinite()
{
    QCOMPARE(BlockContent::encode({{"h", std::numeric_limits<double>::infinity()}}), std::nullopt);
    const auto json = BlockContent::encode({{"text", QString::fromUtf8("é \U0001F600")}, {"n", 1}});
    QVERIFY(json);
    QCOMPARE(BlockContent::decode(*json).at("text").toString(), QString::fromUtf8("é \U0001F600"));
}

void TestBlockContent::dropFirstCharacters_data()
{
    QTest::addColumn<int>("count");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("rest");
    QTest::newRow("one ascii") << 1 << "/hea"
                               << "hea";
    QTest::newRow("composed accent") << 1 << QString::fromUtf8("éa") << "a";
    QTest::newRow("decomposed accent") << 1 << QString::fromUtf8("e\u0301a") << "a";
    QTest::newRow("emoji") << 1 << QString::fromUtf8("\U0001F600x") << "x";
    QTest::newRow("page prefix") << 5 << "page:ABC"
                                 << "ABC";
    QTest::newRow("all of it") << 3 << "abc"
                               << "";
    QTest::newRow("more than all") << 9 << "abc"
                                   << "";
    QTest::newRow("empty") << 1 << ""
                           << "";
    QTest::newRow("none") << 0 << "abc"
                          << "abc";
}

void TestBlockContent::dropFirstCharacters()
{
    QFETCH(int, count);
    QFETCH(QString, text);
    QFETCH(QString, rest);
    QCOMPARE(::dropFirstCharacters(count, text), rest);
}

QTEST_MAIN(TestBlockContent)
#include "tst_block_content.moc"
