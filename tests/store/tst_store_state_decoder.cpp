#include "json/json_coder.h"
#include "store/store_state_decoder.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

// The streaming decoder of "state.json" against the document reader it replaced: for every text,
// the same records, the same records left out with the same reasons, or the same error.
namespace {

struct Outcome {
    std::optional<StoreState> state;
    QString dropped; // the drops' summary, empty for none
    QString error;
};

Outcome byDocument(const QByteArray &bytes)
{
    Outcome out;
    try {
        rapidjson::Document doc;
        json::parseDocument(doc, bytes, json::TooDeep::Refuse, json::Damaged::Mark);
        StoreStateDrops dropped;
        out.state = StoreState::fromJsonByRecord(doc, dropped);
        out.dropped = dropped.isEmpty() ? QString() : dropped.summary();
    } catch (const DecodeError &e) {
        out.error = e.message();
    }
    return out;
}

Outcome byDecoder(const std::function<StoreState(StoreStateDrops &)> &decode)
{
    Outcome out;
    try {
        StoreStateDrops dropped;
        out.state = decode(dropped);
        out.dropped = dropped.isEmpty() ? QString() : dropped.summary();
    } catch (const DecodeError &e) {
        out.error = e.message();
    }
    return out;
}

// One block as the store writes it; `fields` replace, add ("key": raw text) or, with an empty text,
// remove members.
QByteArray block(const QList<std::pair<QByteArray, QByteArray>> &fields = {})
{
    QList<std::pair<QByteArray, QByteArray>> members = {
        {"localID", R"("b-1")"},
        {"serverID", "501"},
        {"pageServerID", "10"},
        {"pageLocalID", R"("p-1")"},
        {"parentBlockServerID", "0"},
        {"parentBlockLocalID", R"("")"},
        {"type", R"("text")"},
        {"contentJSON", R"("{\"text\":\"hi\"}")"},
        {"position", "0"},
        {"indentLevel", "0"},
        {"createdAt", R"("2024-03-09T14:05:00Z")"},
        {"updatedAt", R"("2024-03-10T08:00:59Z")"},
    };
    for (const auto &[key, value] : fields) {
        const auto it =
            std::find_if(members.begin(), members.end(), [&](const auto &m) { return m.first == key; });
        if (it == members.end())
            members.append({key, value});
        else if (value.isEmpty())
            members.erase(it);
        else
            it->second = value;
    }
    QByteArrayList parts;
    for (const auto &[key, value] : members)
        parts << '"' + key + "\":" + value;
    return '{' + parts.join(',') + '}';
}

// A whole state whose members are those the store writes; `blocks` and `members` replace theirs.
QByteArray state(const QByteArray &blocks, const QList<std::pair<QByteArray, QByteArray>> &members = {})
{
    QList<std::pair<QByteArray, QByteArray>> all = {
        {"workspaces",
         R"([{"localID":"w-1","serverID":1,"name":"W","role":"owner","ownerUserID":7,"createdAt":"2024-01-01T00:00:00Z"}])"},
        {"currentWorkspaceID", "1"},
        {"folders", "[]"},
        {"pages", "[]"},
        {"blocks", blocks},
        {"outbox", "[]"},
        {"cursorServerTs", "1730000000"},
        {"pageStatuses", R"({"10":{"published":true,"sharedCount":2}})"},
        {"expandedRowIDs", R"(["f-1"])"},
    };
    for (const auto &[key, value] : members) {
        const auto it = std::find_if(all.begin(), all.end(), [&](const auto &m) { return m.first == key; });
        if (it == all.end())
            all.append({key, value});
        else if (value.isEmpty())
            all.erase(it);
        else
            it->second = value;
    }
    QByteArrayList parts;
    for (const auto &[key, value] : all)
        parts << '"' + key + "\":" + value;
    return '{' + parts.join(',') + '}';
}

// `text` with one more member written after the others.
QByteArray withMember(const QByteArray &object, const QByteArray &member)
{
    return object.chopped(1) + ',' + member + '}';
}

QByteArray list(const QByteArrayList &items)
{
    return '[' + items.join(',') + ']';
}

// A list of `n` blocks long enough for a load to read it in several runs at once; `change` may
// replace the text of any of them.
QByteArray manyBlocks(int n, const std::function<QByteArray(int, QByteArray)> &change = {})
{
    // Made once: under the sanitizers making them took as long as reading them.
    static QByteArrayList made;
    const QByteArray words = QByteArray("lorem ipsum dolor sit amet ").repeated(12);
    for (int i = int(made.size()); i < n; ++i)
        made << block({{"localID", QStringLiteral("\"b-%1\"").arg(i).toUtf8()},
                       {"serverID", QByteArray::number(1000 + i)},
                       {"pageLocalID", QStringLiteral("\"p-%1\"").arg(i % 50).toUtf8()},
                       {"contentJSON", "\"{\\\"text\\\":\\\"" + words + QByteArray::number(i) + "\\\"}\""},
                       {"position", QByteArray::number(i)}});
    QByteArrayList items = made.mid(0, n);
    if (change) {
        for (int i = 0; i < n; ++i)
            items[i] = change(i, items[i]);
    }
    return list(items);
}

} // namespace

class TestStoreStateDecoder : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void sameAsTheDocumentReader_data();
    void sameAsTheDocumentReader();
    void largeListsReadInRuns_data();
    void largeListsReadInRuns();
    void writtenStateReadsBackTheSame();
    void storedDatesReadAsQtReadsThem_data();
    void storedDatesReadAsQtReadsThem();
};

void TestStoreStateDecoder::sameAsTheDocumentReader_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QString>("expect"); // "read", "dropped" or "error": a guard on the row itself

    const QByteArray two = list({block(), block({{"localID", R"("b-2")"}, {"serverID", "502"}})});
    const QByteArray whole = state(two);
    QTest::newRow("as written") << whole << "read";
    QTest::newRow("byte-order mark") << "\xEF\xBB\xBF" + whole << "read";
    QTest::newRow("empty lists")
        << state("[]", {{"workspaces", "[]"}, {"pageStatuses", "{}"}, {"expandedRowIDs", "[]"}}) << "read";
    QTest::newRow("empty file") << QByteArray() << "error";
    QTest::newRow("cut short in a block") << whole.left(whole.indexOf("contentJSON") + 5) << "error";
    QTest::newRow("cut short after the blocks") << whole.left(whole.indexOf("outbox")) << "error";
    QTest::newRow("trailing garbage") << whole + "x"
                                      << "error";
    QTest::newRow("invalid UTF-8 in a block")
        << state(list({block({{"type", "\"te\xC3\x28xt\""}})})) << "dropped";
    QTest::newRow("top is a list") << "[" + whole + "]"
                                   << "error";
    QTest::newRow("top is a string") << QByteArray(R"("state")") << "error";
    QTest::newRow("top is null") << QByteArray("null") << "error";
    QTest::newRow("number no double holds") << state(list({block({{"position", "2e308"}})})) << "dropped";
    QTest::newRow("nested too deep in an unknown key")
        << state(list({block({{"extra", QByteArray(600, '[') + QByteArray(600, ']')}})})) << "error";
    QTest::newRow("nested too deep in the pages")
        << state("[]", {{"pages", QByteArray(600, '[') + QByteArray(600, ']')}}) << "error";

    QTest::newRow("integer above the signed range")
        << state(list({block({{"serverID", "9223372036854775808"}}), block()})) << "dropped";
    QTest::newRow("integer far below the signed range")
        << state(list({block({{"serverID", "-19223372036854775809"}})})) << "dropped";
    // As a double it rounds to the lowest 64-bit integer, which reads.
    QTest::newRow("integer just below the signed range")
        << state(list({block({{"serverID", "-9223372036854775809"}})})) << "read";
    QTest::newRow("huge whole numbers read")
        << state(list({block({{"serverID", "9223372036854775807"}, {"position", "-9223372036854775808"}})}))
        << "read";
    QTest::newRow("whole written as a fraction or exponent")
        << state(list({block({{"position", "3.0"}, {"indentLevel", "1e2"}, {"serverID", "-0.0"}})}))
        << "read";
    QTest::newRow("fraction where an integer belongs")
        << state(list({block({{"position", "1.5"}})})) << "dropped";
    QTest::newRow("string where an integer belongs")
        << state(list({block({{"serverID", R"("501")"}})})) << "dropped";
    QTest::newRow("number where a string belongs") << state(list({block({{"localID", "7"}})})) << "dropped";
    QTest::newRow("boolean, object and list in place of strings")
        << state(list({block({{"type", "true"}}), block({{"contentJSON", R"({"text":"x"})"}}),
                       block({{"pageLocalID", "[1]"}})}))
        << "dropped";
    QTest::newRow("first failing field in listed order names the reason")
        << state(list({block({{"updatedAt", "1"}, {"serverID", "null"}})})) << "dropped";
    QTest::newRow("missing key") << state(list({block({{"pageLocalID", ""}})})) << "dropped";
    QTest::newRow("null required key") << state(list({block({{"type", "null"}})})) << "dropped";
    QTest::newRow("deletedAt null, missing or set")
        << state(list({block({{"deletedAt", "null"}}), block({{"localID", R"("b-3")"}}),
                       block({{"localID", R"("b-4")"}, {"deletedAt", R"("2024-04-01T00:00:00Z")"}})}))
        << "read";
    QTest::newRow("deletedAt not a date") << state(list({block({{"deletedAt", R"("soon")"}})})) << "dropped";
    QTest::newRow("deletedAt a number") << state(list({block({{"deletedAt", "5"}})})) << "dropped";
    QTest::newRow("keys in another order")
        << state(
               list({R"({"updatedAt":"2024-03-10T08:00:59Z","type":"h1","localID":"b-9","serverID":0,)"
                     R"("pageServerID":0,"pageLocalID":"p","parentBlockServerID":0,"parentBlockLocalID":"",)"
                     R"("contentJSON":"","position":2,"indentLevel":1,"createdAt":"2024-03-09T14:05:00Z"})"}))
        << "read";
    QTest::newRow("repeated key: the first counts")
        << state(list({withMember(block({{"type", R"("h1")"}}), R"("type":"h2","serverID":"x")")})) << "read";
    QTest::newRow("repeated key whose first is null")
        << state(list({withMember(block({{"type", "null"}}), R"("type":"h2")")})) << "dropped";
    QTest::newRow("unknown keys ignored") << state(list({block({{"color", R"("red")"},
                                                                {"meta", R"({"a":[1,{"b":null}],"c":{}})"},
                                                                {"tags", "[[],[]]"}})}),
                                                   {{"future", R"({"x":[1,2]})"}})
                                          << "read";
    QTest::newRow("blocks that are no objects")
        << state(list({"3", block(), "\"b\"", "[1,[2]]", "null", "{}"})) << "dropped";
    QTest::newRow("blocks not a list") << state(R"({"0":{}})") << "dropped";
    QTest::newRow("blocks null") << state("null") << "dropped";
    QTest::newRow("blocks missing") << state("[]", {{"blocks", ""}}) << "dropped";
    QTest::newRow("blocks twice: the first counts")
        << state(two).replace("\"outbox\"", "\"blocks\":[1],\"outbox\"") << "read";
    QTest::newRow("other members missing, null or of the wrong kind")
        << state(two, {{"workspaces", ""},
                       {"folders", "null"},
                       {"cursorServerTs", R"("1")"},
                       {"pageStatuses", "[]"},
                       {"pages", R"([{"title":1}])"}})
        << "dropped";
    QTest::newRow("escaped strings")
        << state(
               list({block({{"contentJSON", R"("{\"text\":\"\u00e9\\n\\\"q\\\" \ud83d\ude00 \u0000 end\"}")"},
                            {"localID", R"("b\/\u0031")"},
                            {"pageLocalID", R"("p\t1")"}})}))
        << "read";
    QTest::newRow("escaped key") << state(list({block().replace(R"("type")", R"("t\u0079pe")")})) << "read";
    QTest::newRow("odd dates read by Qt's parser")
        << state(list({block({{"createdAt", R"("2024-03-09T16:05:00+02:00")"},
                              {"updatedAt", R"("2024-03-09T14:05:00.750Z")"}}),
                       block({{"localID", R"("b-2")"}, {"createdAt", R"("2024-03-09T14:05Z")"}})}))
        << "read";
    QTest::newRow("dates no build writes back")
        << state(list({block({{"createdAt", R"("2024-02-30T00:00:00Z")"}}),
                       block({{"updatedAt", R"("0000-01-01T00:00:00Z")"}}),
                       block({{"createdAt", R"("yesterday")"}}),
                       block({{"createdAt", R"("2024-03-09T24:00:00Z")"}}),
                       block({{"createdAt", R"("2023-02-29T00:00:00Z")"}})}))
        << "dropped";

    // A number no double holds or text that is not UTF-8 costs the record holding it, wherever in it.
    const QByteArray other = block({{"localID", R"("b-2")"}});
    const QByteArray page =
        R"({"localID":"p-1","serverID":10,"workspaceServerID":1,"parentPageServerID":0,"folderServerID":0,)"
        R"("title":"T","icon":"","position":0,"coverURL":"","coverOffsetX":50,"coverOffsetY":50,)"
        R"("createdAt":"2024-03-09T14:05:00Z","updatedAt":"2024-03-09T14:05:00Z"})";
    const QByteArray op = R"({"localID":"o-1","entity":"page","op":"update","refLocalID":"p-1",)"
                          R"("payloadJSON":"{}","createdAt":"2024-03-09T14:05:00Z","attempts":0})";
    QTest::newRow("exponent past a double in a block")
        << state(list({block({{"position", "1e400"}}), other})) << "dropped";
    QTest::newRow("whole number past a double in a block")
        << state(list({block({{"serverID", "1" + QByteArray(400, '0')}}), other})) << "dropped";
    QTest::newRow("number too big in a member no build reads")
        << state(list({block({{"extra", R"({"a":[1,-1e400]})"}}), other})) << "dropped";
    QTest::newRow("not UTF-8 cut short before a quote")
        << state(list({block({{"contentJSON", "\"{}\xE2\x82\""}}), other})) << "dropped";
    QTest::newRow("not UTF-8 in a key of a block")
        << state(list({block({{"ty\xFFpe2", "1"}}), other})) << "dropped";
    QTest::newRow("not UTF-8 in a key of a field's value")
        << state(list({block({{"contentJSON", "{\"\xC0\":1}"}}), other})) << "dropped";
    QTest::newRow("not UTF-8 in a key that repeats one")
        << state(list({withMember(block(), "\"type\":\"t\xF8\""), other})) << "dropped";
    QTest::newRow("not UTF-8 as a block") << state(list({"\"\xFF\"", other})) << "dropped";
    QTest::newRow("number too big in an entry that is no block")
        << state(list({"[1e999]", other})) << "dropped";
    QTest::newRow("number too big in a page")
        << state("[]", {{"pages", list({withMember(page, R"("x":1e400)"), page})}}) << "dropped";
    QTest::newRow("not UTF-8 in a page title")
        << state("[]", {{"pages", list({QByteArray(page).replace("\"T\"", "\"T\xED\xA0\x80\""), page})}})
        << "dropped";
    QTest::newRow("number too big in an outbox op")
        << state("[]",
                 {{"outbox", list({QByteArray(op).replace("\"attempts\":0", "\"attempts\":9e9999"), op})}})
        << "dropped";
    QTest::newRow("not UTF-8 in a page status key")
        << state("[]", {{"pageStatuses", "{\"1\xFF\":{\"published\":true,\"sharedCount\":2}}"}}) << "dropped";
    QTest::newRow("not UTF-8 in an expanded row")
        << state("[]", {{"expandedRowIDs", "[\"f\xFF\",\"f-2\"]"}}) << "dropped";
    QTest::newRow("number too big as the cursor") << state("[]", {{"cursorServerTs", "1e400"}}) << "dropped";
    QTest::newRow("number too big as the blocks") << state("1e400") << "dropped";
    QTest::newRow("damage in a member no build reads")
        << state(two, {{"fut\xFFure", "[1e400,\"\xFF\"]"}, {"future", "{\"\xFF\":1e400}"}}) << "read";
    QTest::newRow("not UTF-8 in the key of a member")
        << state(two).replace("\"cursorServerTs\"", "\"cursor\xFF\"") << "dropped";
    QTest::newRow("number too big as the whole text") << QByteArray("1e400") << "error";
    // Read before as now: a zero's exponent, a tiny number, a lone low surrogate written as an escape.
    QTest::newRow("numbers a double holds")
        << state(list({block({{"position", "0e400"},
                              {"indentLevel", "1e-400"},
                              {"serverID", "0.0e999"},
                              {"pageServerID", "7e-99999999999999999999999"}})}))
        << "read";
    QTest::newRow("exponent past any integer")
        << state(list({block({{"position", "1e99999999999999999999999"}}), other})) << "dropped";
    QTest::newRow("escape that is no character") << state(list({block({{"type", R"("\udc00")"}})})) << "read";
    QTest::newRow("number out of grammar") << state(list({block({{"position", "01e400"}})})) << "error";
    QTest::newRow("exponent without digits") << state(list({block({{"position", "1e"}})})) << "error";
}

void TestStoreStateDecoder::largeListsReadInRuns_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QString>("expect");
    QTest::addColumn<QString>(
        "runs"); // "beside": read in runs beside the main parse; "again": then once more whole

    constexpr int n = 9000; // about 4 MB
    const auto at = [](std::initializer_list<int> which, std::function<QByteArray(QByteArray)> change) {
        return [=](int i, QByteArray b) {
            return std::find(which.begin(), which.end(), i) != which.end() ? change(b) : b;
        };
    };
    const QByteArray all = state(manyBlocks(n));
    QVERIFY(all.size() > 3'500'000);
    QTest::newRow("as written") << all << "read"
                                << "beside";
    QTest::newRow("blocks left out in several runs")
        << state(manyBlocks(n, at({2300, 4501, 6999, 8999},
                                  [](QByteArray b) {
                                      return b.replace(R"("position":)",
                                                       R"("position":"x",)" + QByteArray("\"p\":"));
                                  })))
        << "dropped"
        << "beside";
    QTest::newRow("entries that are no blocks in a middle run")
        << state(manyBlocks(n, at({4000, 4001}, [](QByteArray) { return QByteArray("[1,{}]"); })))
        << "dropped"
        << "beside";
    QTest::newRow("invalid UTF-8 in a middle run")
        << state(manyBlocks(n, at({5000},
                                  [](QByteArray b) {
                                      return b.replace("lorem", "lo\xFF"
                                                                "em");
                                  })))
        << "dropped"
        << "beside";
    // Bytes each a check of UTF-8 may judge on its own; a run holding any is read again with marks.
    for (const auto &[name, bytes] : std::initializer_list<std::pair<const char *, QByteArray>>{
             {"a surrogate written as UTF-8", "\xED\xA0\x80"},
             {"an overlong sequence", "\xC0\xAF"},
             {"a code point past U+10FFFF", "\xF4\x90\x80\x80"},
             {"a sequence cut short", "\xE2\x9C"},
             {"a noncharacter", "\xEF\xBF\xBF"}}) {
        QTest::addRow("%s in a middle run", name)
            << state(manyBlocks(n, at({5000}, [bytes](QByteArray b) { return b.replace("lorem", bytes); })))
            << (bytes == "\xEF\xBF\xBF" ? "read" : "dropped") << "beside";
    }
    QTest::newRow("a lone surrogate escape in a middle run")
        << state(manyBlocks(n, at({5000}, [](QByteArray b) { return withMember(b, R"("x":"\ud800")"); })))
        << "error"
        << "again";
    QTest::newRow("a long integer in a middle run")
        << state(manyBlocks(
               n, at({5000}, [](QByteArray b) { return withMember(b, R"("x":123456789012345678901234567890)"); })))
        << "read"
        << "beside";
    QTest::newRow("number too big in a middle run")
        << state(manyBlocks(n, at({5000}, [](QByteArray b) { return withMember(b, R"("x":1e999)"); })))
        << "dropped"
        << "beside";
    QTest::newRow("cut short in a middle run") << all.left(all.size() / 2) << "error"
                                               << "again";
    // The blocks stand at depth 3, so 509 more levels is the deepest a file may go.
    QTest::newRow("nested to the limit in a middle run")
        << state(manyBlocks(n, at({5000},
                                  [](QByteArray b) {
                                      return withMember(b, "\"x\":" + QByteArray(509, '[') +
                                                               QByteArray(509, ']'));
                                  })))
        << "read"
        << "beside";
    QTest::newRow("nested past the limit in a middle run")
        << state(manyBlocks(n, at({5000},
                                  [](QByteArray b) {
                                      return withMember(b, "\"x\":" + QByteArray(510, '[') +
                                                               QByteArray(510, ']'));
                                  })))
        << "error"
        << "again";
    // A value inside one block that looks like blocks written in a row, long enough to be cut.
    QByteArrayList lookAlikes;
    for (int i = 0; i < 6000; ++i)
        lookAlikes << QByteArray(R"({"localID":"n","serverID":1,"pageServerID":2,"pad":")") +
                          QByteArray(300, 'p') + "\"}";
    QTest::newRow("blocks written inside a block")
        << state(manyBlocks(
               n,
               at({10, 4000}, [&](QByteArray b) { return withMember(b, "\"nested\":" + list(lookAlikes)); })))
        << "read"
        << "again";
    QTest::newRow("blocks written inside the outbox")
        << state(manyBlocks(n), {{"outbox", list(lookAlikes)}}) << "dropped"
        << "again";
}

void TestStoreStateDecoder::largeListsReadInRuns()
{
    QFETCH(QByteArray, text);
    QFETCH(QString, runs);

    sameAsTheDocumentReader();
    if (QTest::currentTestFailed())
        return;
    QTemporaryDir dir;
    QFile file(dir.filePath(QStringLiteral("state.json")));
    QVERIFY(file.open(QIODevice::ReadWrite));
    QCOMPARE(file.write(text), text.size());
    QVERIFY(file.seek(0));
    StoreStateDecoder::Runs seen;
    StoreStateDrops dropped;
    try {
        StoreStateDecoder::decode(file.handle(), dropped, &seen);
    } catch (const DecodeError &) {
    }
    QVERIFY2(seen.read >= 2, qPrintable(QString::number(seen.read)));
    QCOMPARE(seen.readAgain, runs == QLatin1String("again"));
}

void TestStoreStateDecoder::sameAsTheDocumentReader()
{
    QFETCH(QByteArray, text);
    QFETCH(QString, expect);

    const Outcome expected = byDocument(text);
    const QString kind = !expected.error.isEmpty()    ? QStringLiteral("error")
                         : expected.dropped.isEmpty() ? QStringLiteral("read")
                                                      : QStringLiteral("dropped");
    QVERIFY2(kind == expect, qPrintable(kind + QStringLiteral(": ") + expected.error + expected.dropped));

    const Outcome fromBytes =
        byDecoder([&](StoreStateDrops &d) { return StoreStateDecoder::decode(text, d); });
    QTemporaryDir dir;
    QFile file(dir.filePath(QStringLiteral("state.json")));
    QVERIFY(file.open(QIODevice::ReadWrite));
    QCOMPARE(file.write(text), text.size());
    QVERIFY(file.seek(0));
    const Outcome fromFile =
        byDecoder([&](StoreStateDrops &d) { return StoreStateDecoder::decode(file.handle(), d); });

    for (const Outcome *got : {&fromBytes, &fromFile}) {
        QCOMPARE(got->error, expected.error);
        QCOMPARE(got->dropped, expected.dropped);
        QCOMPARE(got->state.has_value(), expected.state.has_value());
        if (expected.state) {
            QCOMPARE(got->state->blocks.size(), expected.state->blocks.size());
            for (size_t i = 0; i < expected.state->blocks.size(); ++i) {
                const FNBlock &a = got->state->blocks[i], &b = expected.state->blocks[i];
                QCOMPARE(a, b);
                QCOMPARE(a.createdAt.timeSpec(), b.createdAt.timeSpec());
                QCOMPARE(a.contentJSON.isNull(), b.contentJSON.isNull());
            }
            QVERIFY(*got->state == *expected.state);
            // What the next save writes is the same text.
            QCOMPARE(sharedJSONEncode(*got->state), sharedJSONEncode(*expected.state));
        }
    }
}

void TestStoreStateDecoder::writtenStateReadsBackTheSame()
{
    StoreState s;
    for (int i = 0; i < 3000; ++i) {
        FNBlock b;
        b.serverID = i % 3 ? 100 + i : 0;
        b.pageLocalID = QStringLiteral("page-%1").arg(i % 7);
        b.type = i % 2 ? QStringLiteral("text") : QStringLiteral("todo");
        b.contentJSON = QStringLiteral(R"({"text":"é %1 \"q\""})").arg(i);
        b.position = i;
        b.updatedAt = QDateTime::fromSecsSinceEpoch(1700000000 + i, Qt::UTC);
        b.createdAt = QDateTime::fromSecsSinceEpoch(qint64(i) * 7919 * 3600 - 62135596800 / 2, Qt::UTC);
        if (i % 5 == 0)
            b.deletedAt = b.createdAt.addDays(1);
        s.blocks.push_back(b);
    }
    const QByteArray bytes = sharedJSONEncode(s);
    StoreStateDrops dropped;
    const StoreState back = StoreStateDecoder::decode(bytes, dropped);
    QVERIFY(dropped.isEmpty());
    QVERIFY(back == s);
    QCOMPARE(sharedJSONEncode(back), bytes);
}

void TestStoreStateDecoder::storedDatesReadAsQtReadsThem_data()
{
    QTest::addColumn<QByteArray>("text");

    for (const char *text :
         {"2024-03-09T14:05:00Z", "1970-01-01T00:00:00Z", "1969-12-31T23:59:59Z", "0001-01-01T00:00:00Z",
          "9999-12-31T23:59:59Z", "2000-02-29T12:00:00Z", "1900-02-28T00:00:00Z", "2024-12-31T23:59:59Z",
          // Not the written shape, or not a date: Qt's parser decides.
          "0000-06-01T00:00:00Z", "1900-02-29T00:00:00Z", "2023-02-29T00:00:00Z", "2024-04-31T00:00:00Z",
          "2024-13-01T00:00:00Z", "2024-00-10T00:00:00Z", "2024-03-00T00:00:00Z", "2024-03-09T24:00:00Z",
          "2024-03-09T23:60:00Z", "2024-03-09T23:59:60Z", "2024-03-09t14:05:00Z", "2024-03-09T14:05:00z",
          "2024-03-09T14:05:00", "2024-03-09 14:05:00Z", "2024-03-09T14:05:00.999Z",
          "2024-03-09T14:05:00+01:00", "2024-03-09T14:05:00-00:30", "+2024-03-09T14:05:00Z",
          "2024-3-09T14:05:00Z", "2024-03-09T1a:05:00Z", "20240309T140500Z", "", "2024-03-09T14:05:00ZZ",
          "9999-12-31T23:59:59-01:00"})
        QTest::newRow(text) << QByteArray(text);
}

void TestStoreStateDecoder::storedDatesReadAsQtReadsThem()
{
    QFETCH(QByteArray, text);

    const auto expected = json::parseDate(QString::fromUtf8(text));
    const auto got = json::parseDateUtf8(text.constData(), size_t(text.size()));
    QCOMPARE(got.has_value(), expected.has_value());
    if (!expected)
        return;
    QCOMPARE(*got, *expected);
    QCOMPARE(got->timeSpec(), expected->timeSpec());
    QCOMPARE(got->toMSecsSinceEpoch(), expected->toMSecsSinceEpoch());
    QCOMPARE(json::formatDate(*got), json::formatDate(*expected));
}

QTEST_GUILESS_MAIN(TestStoreStateDecoder)
#include "tst_store_state_decoder.moc"
