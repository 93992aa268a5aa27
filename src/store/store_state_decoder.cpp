#include "store/store_state_decoder.h"

#include "store/block_batch.h"
#include "store/state_file_stream.h"

#include "json/json_coder.h"
#include "json/json_sax.h"

#include <QByteArrayView>

#include <rapidjson/memorystream.h>
#include <rapidjson/reader.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstring>
#include <deque>
#include <functional>
#include <future>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>

#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr size_t kMemberCount = std::tuple_size_v<decltype(StoreState::kFields)>;
constexpr size_t kBlockFieldCount = kBlockSlotCount;

// The kind names json::kindName gives, for the events that carry them; the last two are the marks
// a damaged value leaves.
enum class Kind { Null, Boolean, Number, String, Array, Object, TooBig, NotUtf8 };

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
    case Kind::TooBig:
        return json::damageName(json::Damage::TooBig);
    case Kind::NotUtf8:
        return json::damageName(json::Damage::NotUtf8);
    }
    return {};
}

QString mismatchText(const char *expected, Kind found)
{
    return QStringLiteral("expected %1, found %2").arg(QLatin1String(expected), kindText(found));
}

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

// The shortest text a block that reads can have: each required field with its key and the shortest
// value, separated and braced, and the comma before the next. At most the text over this many blocks
// fit the text; the list reserved for them costs memory only where filled.
size_t minimalBlockText()
{
    size_t size = 2;
    for (const BlockSlot &slot : kBlockSlots) {
        if (!slot.maybeDate)
            size += slot.key.size() + 4 + (slot.number ? 1 : 2);
    }
    return size;
}

// Keys are short: a plain loop beats a call to memcmp.
bool sameText(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (a[i] != b[i])
            return false;
    }
    return true;
}

struct StringHash {
    using is_transparent = void;
    size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
};

// How many runs of blocks are read at once beside the parse.
size_t runsAtOnce()
{
    return std::clamp<size_t>(std::thread::hardware_concurrency(), 2, 5) - 1;
}

// The parse events of the whole state. At the top level each known member is either skipped (a
// repeated key: the first one counts, as FindMember finds it), decoded block by block (the blocks
// list) or gathered into a document of its own and read as fromJsonByRecord reads it.
class Handler
{
public:
    enum class Role {
        Whole, // the whole text; batches of blocks are decoded on other threads
        Run,   // one run of the blocks list cut out of the whole, as a list of its own
    };

    // `textSize`: how long the text is, when known, so the blocks' table of chunks is made once.
    Handler(size_t textSize, Role role)
        : m_role(role)
        , m_blocksBound(textSize / minimalBlockText())
    {
        // A run fills one batch: grown as it fills, it would be copied several times over.
        m_batch.records.reserve(std::min(BlockBatch::kSize, m_blocksBound + 1));
        m_batch.text.reserve(std::min(BlockBatch::kSize * 256, textSize));
    }

    // Where the stream stands, for telling where the blocks list starts.
    void setTell(std::function<size_t()> tell) { m_tell = std::move(tell); }
    qint64 blocksAt() const { return m_blocksAt; }
    // Called after each of the first blocks of the list, until it returns true.
    void setAfterBlock(std::function<bool()> afterBlock) { m_afterBlock = std::move(afterBlock); }
    // A run of blocks read elsewhere, next in the list's order.
    void addRun(std::future<BlockRun> run);
    // As many runs are being read as there are threads for them.
    bool allThreadsBusy() const;
    // Gives the blocks read so far to be read, so that what comes later follows them.
    void flushBatch();

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
        if (const json::Damage damage = json::damageOf(s); damage != json::Damage::None) {
            noteDamage(damage);
            // Not copied: readers know a mark by its address.
            return scalar(damage == json::Damage::TooBig ? Kind::TooBig : Kind::NotUtf8,
                          [&] { return m_capture.String(s, n, false); });
        }
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
    BlockRun finishRun();

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
    void noteDamage(json::Damage damage);
    void failField(const QString &reason);
    void dispatch();
    void append(BlockRun run);
    const QString *repeated(std::string_view text);

    Role m_role;
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

    size_t m_blocksBound;
    BlockRun m_run; // the blocks decoded so far, in order
    std::function<bool()> m_afterBlock;
    std::function<size_t()> m_tell;
    qint64 m_blocksAt = -1;
    int m_afterBlockTries = 64;
    size_t m_slot = kBlockFieldCount;
    size_t m_nextSlot = 0;
    std::array<bool, kBlockFieldCount> m_filled{};
    std::unordered_map<std::string, QString, StringHash, std::equal_to<>> m_repeats;
    std::deque<QString> m_overflow; // repeating texts past the table's cap
    BlockBatch m_batch;
    BlockBatch::Record *m_record = nullptr;
    // Batches decoded on other threads, in order; declared last, so that they finish before what
    // they point into goes.
    std::deque<std::future<BlockRun>> m_decoding;
};

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
    // A damaged key matches no field and is skipped as unknown; the block holding it is not kept.
    noteDamage(json::damageOf(s));
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
            if (sameText(kBlockSlots[at].key, key)) {
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
        if (m_role == Role::Run && kind == Kind::Array) {
            m_mode = Mode::BlocksList;
        } else if (m_role == Role::Whole && kind == Kind::Object) {
            m_mode = Mode::Members;
        } else {
            m_topNotObject = kind;
            skip(Mode::Done, 1);
        }
        return true;
    case Mode::Value:
        if (m_member == kBlocks && kind == Kind::Array) {
            // The parser took the '[' just now.
            if (m_tell)
                m_blocksAt = qint64(m_tell());
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
        m_mode = m_role == Role::Run ? Mode::Done : Mode::Members;
        return true;
    case Mode::Block:
        endBlock();
        m_mode = Mode::BlocksList;
        if (m_afterBlock && m_afterBlockTries-- > 0 && m_afterBlock())
            m_afterBlock = nullptr;
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
    m_nextSlot = 0;
    m_record = &m_batch.records.emplace_back();
    m_record->index = m_batch.records.size() - 1;
    m_mode = Mode::Block;
}

void Handler::failField(const QString &reason)
{
    m_record->slots[m_slot] = BlockBatch::Slot::Failed;
    m_record->at[m_slot] = uint32_t(m_batch.failures.size());
    m_batch.failures.push_back(
        QStringLiteral("\"%1\": %2")
            .arg(QLatin1String(kBlockSlots[m_slot].key.data(), qsizetype(kBlockSlots[m_slot].key.size())),
                 reason));
}

// Only what the kind of the value decides is settled here; texts and dates are read with the batch.
void Handler::field(Kind kind, const json::ParsedNumber &number, std::string_view text)
{
    const BlockSlot &slot = kBlockSlots[m_slot];
    m_filled[m_slot] = true;
    if (kind == Kind::Null)
        return;
    if (slot.number) {
        if (const auto i = kind == Kind::Number ? json::wholeInt64(number) : std::nullopt) {
            m_record->slots[m_slot] = BlockBatch::Slot::Present;
            m_record->number[m_slot] = *i;
        } else {
            failField(mismatchText("an integer", kind));
        }
        return;
    }
    if (kind != Kind::String) {
        failField(mismatchText("a string", kind));
        return;
    }
    m_record->slots[m_slot] = BlockBatch::Slot::Present;
    if (slot.repeats) {
        m_record->shared[m_slot] = repeated(text);
        return;
    }
    m_record->at[m_slot] = uint32_t(m_batch.text.size());
    m_record->size[m_slot] = uint32_t(text.size());
    m_batch.text.append(text);
}

void Handler::endBlock()
{
    m_record = nullptr;
    if (m_batch.records.size() == BlockBatch::kSize)
        dispatch();
}

// Inside a block, wherever the damage sits: in a field, in a value skipped, in a key.
void Handler::noteDamage(json::Damage damage)
{
    if (damage != json::Damage::None && m_record && m_record->damage == json::Damage::None)
        m_record->damage = damage;
}

void Handler::dropBlock(const QString &reason)
{
    BlockBatch::Record &r = m_batch.records.emplace_back();
    r.index = m_batch.records.size() - 1;
    r.failure = int(m_batch.failures.size());
    m_batch.failures.push_back(reason);
    if (m_batch.records.size() == BlockBatch::kSize)
        dispatch();
}

// A few runs at a time: the parse runs ahead by no more than that.
void Handler::addRun(std::future<BlockRun> run)
{
    m_decoding.push_back(std::move(run));
    const auto ready = [](const std::future<BlockRun> &f) {
        return f.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
    };
    while (!m_decoding.empty() && (ready(m_decoding.front()) || m_decoding.size() > 2 * runsAtOnce())) {
        append(m_decoding.front().get());
        m_decoding.pop_front();
    }
}

bool Handler::allThreadsBusy() const
{
    return size_t(std::count_if(m_decoding.begin(), m_decoding.end(), [](const std::future<BlockRun> &f) {
               return f.wait_for(std::chrono::seconds(0)) != std::future_status::ready;
           })) >= runsAtOnce();
}

void Handler::dispatch()
{
    if (m_role == Role::Run)
        append(m_batch.decode());
    else
        addRun(std::async(std::launch::async, [batch = std::move(m_batch)] { return batch.decode(); }));
    m_batch = BlockBatch();
    m_batch.records.reserve(BlockBatch::kSize);
    m_batch.text.reserve(BlockBatch::kSize * 256);
}

void Handler::flushBatch()
{
    if (!m_batch.records.empty())
        dispatch();
}

void Handler::append(BlockRun run)
{
    if (m_run.blocks.empty())
        m_run.blocks.reserve(m_blocksBound);
    std::move(run.blocks.begin(), run.blocks.end(), std::back_inserter(m_run.blocks));
    for (auto &[index, reason] : run.dropped)
        m_run.dropped.emplace_back(m_run.count + index, std::move(reason));
    m_run.count += run.count;
}

const QString *Handler::repeated(std::string_view text)
{
    if (const auto it = m_repeats.find(text); it != m_repeats.end())
        return &it->second;
    if (m_repeats.size() >= kRepeatsCap) {
        m_overflow.push_back(QString::fromUtf8(text.data(), qsizetype(text.size())));
        return &m_overflow.back();
    }
    return &m_repeats.emplace(std::string(text), QString::fromUtf8(text.data(), qsizetype(text.size())))
                .first->second;
}

BlockRun Handler::finishRun()
{
    if (m_topNotObject)
        throw DecodeError(mismatchText("an array", *m_topNotObject));
    // A small list is read here; a large one's last batch joins the others.
    if (m_decoding.empty())
        append(m_batch.decode());
    else if (!m_batch.records.empty())
        dispatch();
    while (!m_decoding.empty()) {
        append(m_decoding.front().get());
        m_decoding.pop_front();
    }
    return std::move(m_run);
}

StoreState Handler::finish(StoreStateDrops &dropped)
{
    if (m_topNotObject)
        throw DecodeError(mismatchText("an object", *m_topNotObject));
    BlockRun run = finishRun();
    m_state.blocks = std::move(run.blocks);
    for (const auto &[index, reason] : run.dropped)
        m_drops[kBlocks].note(QStringLiteral("blocks"), QStringLiteral("blocks[%1]").arg(index), reason);
    for (size_t i = 0; i < kMemberCount; ++i) {
        if (!m_seen[i])
            m_state.readMember(i, nullptr, m_drops[i]);
        dropped.add(m_drops[i]);
    }
    return std::move(m_state);
}

// A run cut out of the blocks list, read on a thread of its own. Its list stands one level below the
// top of the whole text.
BlockRun readRun(const std::string &text)
{
    // Nearly always the whole run is UTF-8 and every number one the parser takes: checked in one
    // pass, it is parsed with no check of each string and no reading ahead of each number. Anything
    // that parse refuses is read again as below, which marks what it must.
    if (QByteArrayView(text.data(), qsizetype(text.size())).isValidUtf8()) {
        Handler handler(text.size(), Handler::Role::Run);
        json::DepthLimit<Handler> limit(handler, json::TooDeep::Refuse, json::kMaxDepth - 1);
        rapidjson::MemoryStream stream(text.data(), text.size());
        rapidjson::Reader reader;
        constexpr unsigned kFlags = rapidjson::kParseNumbersAsStringsFlag | rapidjson::kParseIterativeFlag;
        if (!reader.Parse<kFlags>(stream, limit).IsError() && !limit.exceeded() && !limit.tooBig())
            return handler.finishRun();
    }
    Handler handler(text.size(), Handler::Role::Run);
    rapidjson::MemoryStream stream(text.data(), text.size());
    json::parseEvents(stream, handler, json::TooDeep::Refuse, json::kMaxDepth - 1, json::Damaged::Mark);
    return handler.finishRun();
}

// Reads the whole text from `fd`'s start, handing runs of the blocks list to other threads when
// `split`. Any error while split reads the text again, unsplit, so that it is reported as a parse of
// the whole text reports it.
StoreState decodeFile(int fd, size_t size, bool split, StoreStateDecoder::Runs &runs,
                      StoreStateDrops &dropped)
{
    StateFileStream stream(fd);
    try {
        Handler handler(size, Handler::Role::Whole);
        handler.setTell([&] { return stream.Tell(); });
        if (split) {
            handler.setAfterBlock([&] {
                if (!stream.atNextBlock())
                    return false;
                handler.flushBatch();
                return stream.split([&](std::string run) {
                    ++runs.read;
                    // Rather than wait for a thread, this one reads the run itself.
                    if (handler.allThreadsBusy()) {
                        std::promise<BlockRun> done;
                        done.set_value(readRun(run));
                        handler.addRun(done.get_future());
                    } else {
                        handler.addRun(
                            std::async(std::launch::async, [run = std::move(run)] { return readRun(run); }));
                    }
                });
            });
        }
        json::parseEvents(stream, handler, json::TooDeep::Refuse, json::kMaxDepth, json::Damaged::Mark);
        StoreState state = handler.finish(dropped);
        if (stream.error())
            throw DecodeError(QString::fromLocal8Bit(std::strerror(stream.error())));
        runs.blocksAt = handler.blocksAt();
        return state;
    } catch (const DecodeError &) {
        if (stream.error())
            throw DecodeError(QString::fromLocal8Bit(std::strerror(stream.error())));
        throw;
    }
}

template <typename Stream>
StoreState decodeStream(Stream &stream, size_t textSize, StoreStateDrops &dropped)
{
    Handler handler(textSize, Handler::Role::Whole);
    json::parseEvents(stream, handler, json::TooDeep::Refuse, json::kMaxDepth, json::Damaged::Mark);
    return handler.finish(dropped);
}

} // namespace

StoreState StoreStateDecoder::decode(const QByteArray &bytes, StoreStateDrops &dropped)
{
    rapidjson::MemoryStream memory(bytes.constData(), size_t(bytes.size()));
    rapidjson::EncodedInputStream<rapidjson::UTF8<>, rapidjson::MemoryStream> stream(memory);
    return decodeStream(stream, size_t(bytes.size()), dropped);
}

StoreState StoreStateDecoder::decode(int fd, StoreStateDrops &dropped, Runs *seen)
{
    Runs runs;
    Runs &out = seen ? *seen : runs;
    struct stat info {
    };
    const size_t size = ::fstat(fd, &info) == 0 ? size_t(std::max<off_t>(info.st_size, 0)) : 0;
    const off_t start = ::lseek(fd, 0, SEEK_CUR);
    try {
        StoreStateDrops splitDrops;
        StoreState state = decodeFile(fd, size, start >= 0, out, splitDrops);
        dropped = splitDrops;
        return state;
    } catch (const DecodeError &) {
        if (out.read == 0 || ::lseek(fd, start, SEEK_SET) < 0)
            throw;
    }
    out.readAgain = true;
    Runs again;
    StoreState state = decodeFile(fd, size, false, again, dropped);
    out.blocksAt = again.blocksAt;
    return state;
}
