#include "store/store_state_decoder.h"

#include "json/json_coder.h"
#include "json/json_sax.h"

#include <rapidjson/memorystream.h>

#include <array>
#include <cstring>
#include <string>
#include <string_view>
#include <unordered_map>

namespace {

constexpr size_t kMemberCount = std::tuple_size_v<decltype(StoreState::kFields)>;
constexpr size_t kBlockFieldCount = std::tuple_size_v<decltype(FNBlock::kFields)>;

// The kind names json::kindName gives, for the events that carry them.
enum class Kind { Null, Boolean, Number, String, Array, Object };

QString kindText(Kind kind)
{
    switch (kind) {
    case Kind::Null:
        return QStringLiteral("null");
    case Kind::Boolean:
        return QStringLiteral("a boolean");
    case Kind::Number:
        return QStringLiteral("a number");
    case Kind::String:
        return QStringLiteral("a string");
    case Kind::Array:
        return QStringLiteral("an array");
    case Kind::Object:
        return QStringLiteral("an object");
    }
    return {};
}

QString mismatchText(const char *expected, Kind found)
{
    return QStringLiteral("expected %1, found %2").arg(QLatin1String(expected), kindText(found));
}

// One field of FNBlock as its list gives it, with what reading it needs.
struct BlockSlot {
    std::string_view key;
    QString FNBlock::*text = nullptr;
    qint64 FNBlock::*number = nullptr;
    QDateTime FNBlock::*date = nullptr;
    std::optional<QDateTime> FNBlock::*maybeDate = nullptr;
    bool repeats = false; // the same few values run through many blocks: decoded once, shared
};

constexpr BlockSlot slotOf(const json::Field<FNBlock, QString> &f)
{
    const std::string_view key = f.key;
    return {.key = key,
            .text = f.member,
            .repeats = key == "pageLocalID" || key == "parentBlockLocalID" || key == "type"};
}
constexpr BlockSlot slotOf(const json::Field<FNBlock, qint64> &f)
{
    return {.key = f.key, .number = f.member};
}
constexpr BlockSlot slotOf(const json::Field<FNBlock, QDateTime> &f)
{
    return {.key = f.key, .date = f.member};
}
constexpr BlockSlot slotOf(const json::Field<FNBlock, std::optional<QDateTime>> &f)
{
    return {.key = f.key, .maybeDate = f.member};
}

const std::array<BlockSlot, kBlockFieldCount> kBlockSlots = std::apply(
    [](const auto &...f) { return std::array<BlockSlot, kBlockFieldCount>{slotOf(f)...}; }, FNBlock::kFields);

const std::array<std::string_view, kMemberCount> kMemberKeys = std::apply(
    [](const auto &...f) { return std::array<std::string_view, kMemberCount>{std::string_view(f.key)...}; },
    StoreState::kFields);

size_t memberIndex(std::string_view key)
{
    for (size_t i = 0; i < kMemberCount; ++i) {
        if (kMemberKeys[i] == key)
            return i;
    }
    return kMemberCount;
}

const size_t kBlocks = memberIndex("blocks");

struct StringHash {
    using is_transparent = void;
    size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
};

// The parse events of the whole state. At the top level each known member is either skipped (a
// repeated key: the first one counts, as FindMember finds it), decoded block by block (the blocks
// list) or gathered into a document of its own and read as fromJsonByRecord reads it.
class Handler
{
public:
    bool Null()
    {
        return scalar(Kind::Null, [&] { return m_capture.Null(); });
    }
    bool Bool(bool b)
    {
        return scalar(Kind::Boolean, [&] { return m_capture.Bool(b); });
    }
    bool Int64(int64_t i)
    {
        return scalar(
            Kind::Number, [&] { return m_capture.Int64(i); },
            json::ParsedNumber{.kind = json::ParsedNumber::Int64, .i = i});
    }
    bool Uint64(uint64_t u)
    {
        return scalar(
            Kind::Number, [&] { return m_capture.Uint64(u); },
            json::ParsedNumber{.kind = json::ParsedNumber::Uint64, .u = u});
    }
    bool Double(double d)
    {
        return scalar(
            Kind::Number, [&] { return m_capture.Double(d); },
            json::ParsedNumber{.kind = json::ParsedNumber::Double, .d = d});
    }
    bool String(const char *s, rapidjson::SizeType n, bool copy)
    {
        return scalar(
            Kind::String, [&] { return m_capture.String(s, n, copy); }, {}, std::string_view(s, n));
    }
    bool Key(const char *s, rapidjson::SizeType n, bool copy);
    bool StartObject() { return open(Kind::Object); }
    bool StartArray() { return open(Kind::Array); }
    bool EndObject(rapidjson::SizeType n) { return close(Kind::Object, n); }
    bool EndArray(rapidjson::SizeType n) { return close(Kind::Array, n); }

    // What the events made, once the parse went through.
    StoreState finish(StoreStateDrops &dropped);

private:
    enum class Mode {
        Start,      // before the top value
        Members,    // in the top object, between members
        Value,      // a member's value is next
        BlocksList, // in the blocks list, between blocks
        Block,      // in a block, between fields
        Field,      // a block field's value is next
        Capture,    // inside a member gathered into a document
        Skip,       // inside a value nobody reads
        Done,       // after the top value
    };

    template <typename F>
    bool scalar(Kind kind, F &&capture, json::ParsedNumber number = {}, std::string_view text = {});
    bool open(Kind kind);
    bool close(Kind kind, rapidjson::SizeType n);
    void skip(Mode after, int depth)
    {
        m_skipAfter = after;
        m_skipDepth = depth;
        m_mode = Mode::Skip;
    }
    void captured();
    void field(Kind kind, const json::ParsedNumber &number, std::string_view text);
    void startBlock();
    void endBlock();
    void dropBlock(const QString &reason);
    QString repeated(std::string_view text);

    Mode m_mode = Mode::Start;
    std::optional<Kind> m_topNotObject;
    std::array<bool, kMemberCount> m_seen{};
    size_t m_member = kMemberCount;
    StoreState m_state;
    std::array<StoreStateDrops, kMemberCount> m_drops;

    rapidjson::Document m_capture;
    int m_captureDepth = 0;
    Mode m_skipAfter = Mode::Members;
    int m_skipDepth = 0;

    // The blocks, in runs so that no growth of one list ever holds two copies of all of them.
    std::vector<std::vector<FNBlock>> m_runs;
    size_t m_blockIndex = 0;
    FNBlock m_block;
    size_t m_slot = kBlockFieldCount;
    size_t m_nextSlot = 0;
    std::array<bool, kBlockFieldCount> m_filled{};
    std::array<bool, kBlockFieldCount> m_present{}; // filled and not null
    std::array<QString, kBlockFieldCount> m_failed;
    std::unordered_map<std::string, QString, StringHash, std::equal_to<>> m_repeats;
};

constexpr size_t kRunSize = 4096;
// Past this many distinct values the table stops growing: only ids of pages and kinds repeat.
constexpr size_t kRepeatsCap = 1 << 16;

template <typename F>
bool Handler::scalar(Kind kind, F &&capture, json::ParsedNumber number, std::string_view text)
{
    switch (m_mode) {
    case Mode::Start:
        m_topNotObject = kind;
        m_mode = Mode::Done;
        return true;
    case Mode::Value:
        m_mode = Mode::Capture;
        m_captureDepth = 0;
        [[fallthrough]];
    case Mode::Capture:
        if (!capture())
            return false;
        if (m_captureDepth == 0)
            captured();
        return true;
    case Mode::BlocksList:
        dropBlock(mismatchText("an object", kind));
        return true;
    case Mode::Field:
        field(kind, number, text);
        m_mode = Mode::Block;
        return true;
    case Mode::Skip:
        if (m_skipDepth == 0)
            m_mode = m_skipAfter;
        return true;
    case Mode::Members:
    case Mode::Block:
    case Mode::Done:
        break;
    }
    return true;
}

bool Handler::Key(const char *s, rapidjson::SizeType n, bool copy)
{
    const std::string_view key(s, n);
    switch (m_mode) {
    case Mode::Members:
        m_member = memberIndex(key);
        if (m_member == kMemberCount || m_seen[m_member]) {
            skip(Mode::Members, 0);
            return true;
        }
        m_seen[m_member] = true;
        m_mode = Mode::Value;
        return true;
    case Mode::Block: {
        // Written in the order of the list, so the next field is nearly always the one after.
        m_slot = kBlockFieldCount;
        for (size_t tried = 0; tried < kBlockFieldCount; ++tried) {
            const size_t at = (m_nextSlot + tried) % kBlockFieldCount;
            if (kBlockSlots[at].key == key) {
                m_slot = at;
                break;
            }
        }
        if (m_slot == kBlockFieldCount || m_filled[m_slot]) {
            skip(Mode::Block, 0);
            return true;
        }
        m_nextSlot = m_slot + 1;
        m_mode = Mode::Field;
        return true;
    }
    case Mode::Capture:
        return m_capture.Key(s, n, copy);
    default:
        return true;
    }
}

bool Handler::open(Kind kind)
{
    switch (m_mode) {
    case Mode::Start:
        if (kind == Kind::Object) {
            m_mode = Mode::Members;
        } else {
            m_topNotObject = kind;
            skip(Mode::Done, 1);
        }
        return true;
    case Mode::Value:
        if (m_member == kBlocks && kind == Kind::Array) {
            m_mode = Mode::BlocksList;
            return true;
        }
        m_mode = Mode::Capture;
        m_captureDepth = 0;
        [[fallthrough]];
    case Mode::Capture:
        ++m_captureDepth;
        return kind == Kind::Object ? m_capture.StartObject() : m_capture.StartArray();
    case Mode::BlocksList:
        if (kind == Kind::Object) {
            startBlock();
            return true;
        }
        dropBlock(mismatchText("an object", kind));
        skip(Mode::BlocksList, 1);
        return true;
    case Mode::Field:
        field(kind, {}, {});
        skip(Mode::Block, 1);
        return true;
    case Mode::Skip:
        ++m_skipDepth;
        return true;
    case Mode::Members:
    case Mode::Block:
    case Mode::Done:
        break;
    }
    return true;
}

bool Handler::close(Kind kind, rapidjson::SizeType n)
{
    switch (m_mode) {
    case Mode::Members:
        m_mode = Mode::Done;
        return true;
    case Mode::BlocksList:
        m_mode = Mode::Members;
        return true;
    case Mode::Block:
        endBlock();
        m_mode = Mode::BlocksList;
        return true;
    case Mode::Capture:
        if (!(kind == Kind::Object ? m_capture.EndObject(n) : m_capture.EndArray(n)))
            return false;
        if (--m_captureDepth == 0)
            captured();
        return true;
    case Mode::Skip:
        if (--m_skipDepth == 0)
            m_mode = m_skipAfter;
        return true;
    default:
        return true;
    }
}

void Handler::captured()
{
    // The one value gathered becomes the document's root.
    const auto root = [](rapidjson::Document &) { return true; };
    m_capture.Populate(root);
    m_state.readMember(m_member, &m_capture, m_drops[m_member]);
    m_capture = rapidjson::Document();
    m_mode = Mode::Members;
}

void Handler::startBlock()
{
    m_filled.fill(false);
    m_present.fill(false);
    m_nextSlot = 0;
    m_mode = Mode::Block;
}

void Handler::field(Kind kind, const json::ParsedNumber &number, std::string_view text)
{
    const BlockSlot &slot = kBlockSlots[m_slot];
    m_filled[m_slot] = true;
    if (kind == Kind::Null)
        return;
    const auto fail = [&](const QString &reason) {
        m_failed[m_slot] = QStringLiteral("\"%1\": %2")
                               .arg(QLatin1String(slot.key.data(), qsizetype(slot.key.size())), reason);
    };
    m_present[m_slot] = true;
    m_failed[m_slot].clear();
    if (slot.number) {
        if (const auto i = kind == Kind::Number ? json::wholeInt64(number) : std::nullopt)
            m_block.*slot.number = *i;
        else
            fail(mismatchText("an integer", kind));
        return;
    }
    if (kind != Kind::String) {
        fail(mismatchText("a string", kind));
        return;
    }
    if (slot.text) {
        m_block.*slot.text =
            slot.repeats ? repeated(text) : QString::fromUtf8(text.data(), qsizetype(text.size()));
        return;
    }
    const auto date = json::parseDateUtf8(text.data(), text.size());
    if (!date)
        fail(json::dateError(text.data(), text.size()).message());
    else if (slot.date)
        m_block.*slot.date = *date;
    else
        m_block.*slot.maybeDate = *date;
}

void Handler::endBlock()
{
    // The first field in the list's order that fails names the reason, as reading a document does.
    for (size_t i = 0; i < kBlockFieldCount; ++i) {
        const BlockSlot &slot = kBlockSlots[i];
        if (!m_present[i]) {
            if (slot.maybeDate) {
                m_block.*slot.maybeDate = std::nullopt;
                continue;
            }
            dropBlock(QStringLiteral("Missing key \"%1\"")
                          .arg(QLatin1String(slot.key.data(), qsizetype(slot.key.size()))));
            return;
        }
        if (!m_failed[i].isEmpty()) {
            dropBlock(m_failed[i]);
            return;
        }
    }
    if (m_runs.empty() || m_runs.back().size() == kRunSize) {
        m_runs.emplace_back();
        m_runs.back().reserve(kRunSize);
    }
    m_runs.back().push_back(std::move(m_block));
    ++m_blockIndex;
}

void Handler::dropBlock(const QString &reason)
{
    m_drops[kBlocks].note(QStringLiteral("blocks"), QStringLiteral("blocks[%1]").arg(m_blockIndex), reason);
    ++m_blockIndex;
}

QString Handler::repeated(std::string_view text)
{
    if (const auto it = m_repeats.find(text); it != m_repeats.end())
        return it->second;
    QString value = QString::fromUtf8(text.data(), qsizetype(text.size()));
    if (m_repeats.size() < kRepeatsCap)
        m_repeats.emplace(std::string(text), value);
    return value;
}

StoreState Handler::finish(StoreStateDrops &dropped)
{
    if (m_topNotObject)
        throw DecodeError(mismatchText("an object", *m_topNotObject));
    size_t total = 0;
    for (const auto &run : m_runs)
        total += run.size();
    m_state.blocks.reserve(total);
    for (auto &run : m_runs) {
        std::move(run.begin(), run.end(), std::back_inserter(m_state.blocks));
        std::vector<FNBlock>().swap(run);
    }
    for (size_t i = 0; i < kMemberCount; ++i) {
        if (!m_seen[i])
            m_state.readMember(i, nullptr, m_drops[i]);
        dropped.add(m_drops[i]);
    }
    return std::move(m_state);
}

template <typename Stream>
StoreState decodeStream(Stream &stream, StoreStateDrops &dropped)
{
    Handler handler;
    json::parseEvents(stream, handler);
    return handler.finish(dropped);
}

} // namespace

StoreState StoreStateDecoder::decode(const QByteArray &bytes, StoreStateDrops &dropped)
{
    rapidjson::MemoryStream memory(bytes.constData(), size_t(bytes.size()));
    rapidjson::EncodedInputStream<rapidjson::UTF8<>, rapidjson::MemoryStream> stream(memory);
    return decodeStream(stream, dropped);
}

StoreState StoreStateDecoder::decode(int fd, StoreStateDrops &dropped)
{
    json::FdStream stream(fd);
    const auto readFailed = [&] {
        return DecodeError(QString::fromLocal8Bit(std::strerror(stream.error())));
    };
    try {
        StoreState state = decodeStream(stream, dropped);
        if (stream.error())
            throw readFailed();
        return state;
    } catch (const DecodeError &) {
        if (stream.error())
            throw readFailed();
        throw;
    }
}
