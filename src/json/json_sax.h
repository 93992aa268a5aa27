#pragma once

#include "json/json_error.h"
#include "json/json_limits.h"
#include "json/json_reader.h"
#include "json/marking_stream.h"

#include <rapidjson/encodedstream.h>
#include <rapidjson/reader.h>

#include <cstdint>
#include <string>
#include <utility>

// The one way text becomes parse events, for a DOM and for decoders that read while parsing: the same
// grammar, the same number rule and the same depth limit, so both see the same values and errors.
namespace json {

// What a value nested too deep, a number no double holds and a string or key that is not UTF-8
// become when marking; compared by address, so no input can pass for them.
inline constexpr char kTooDeepText[] = "(nested too deep)";
inline constexpr char kTooBigText[] = "(number too large)";
inline constexpr char kNotUtf8Text[] = "(not UTF-8)";

// A number as the parser gives it: a whole one that fits 64 bits as an integer, any other as the
// correctly rounded double. `tooBig` when a double cannot hold it.
struct ParsedNumber {
    enum Kind { Int64, Uint64, Double, TooBig } kind = TooBig;
    int64_t i = 0;
    uint64_t u = 0;
    double d = 0;
};
ParsedNumber parseNumber(const char *first, const char *last);
// The whole-integer rule of json::wholeInt64 for a parsed number.
std::optional<qint64> wholeInt64(const ParsedNumber &n);

// The text of what parsing `bytes` failed on; called after the handler stopped or the parser failed.
DecodeError parseError(const rapidjson::ParseResult &result, bool exceeded, bool tooBig);

// Passes the parser's events on to `Handler` while counting how deep they nest. Past the limit it
// stops the parse or, when marking, drops the events and leaves one mark for the whole value.
// Given the `marking` of a MarkingStream, it also marks damaged values instead of failing.
template <typename Handler>
class DepthLimit
{
public:
    // `maxDepth` below kMaxDepth reads a piece of a text nested that much deeper in the whole.
    DepthLimit(Handler &handler, TooDeep tooDeep, int maxDepth = kMaxDepth, Marking *marking = nullptr)
        : m_handler(handler)
        , m_tooDeep(tooDeep)
        , m_maxDepth(maxDepth)
        , m_marking(marking)
    {
    }

    bool exceeded() const { return m_exceeded; }
    bool tooBig() const { return m_tooBig; }

    bool Null() { return skipping() || m_handler.Null(); }
    bool Bool(bool b) { return skipping() || m_handler.Bool(b); }
    // Numbers arrive as text (RawNumber); the parser's template still names these.
    bool Int(int i) { return skipping() || m_handler.Int64(i); }
    bool Uint(unsigned i) { return skipping() || m_handler.Uint64(i); }
    bool Int64(int64_t i) { return skipping() || m_handler.Int64(i); }
    bool Uint64(uint64_t i) { return skipping() || m_handler.Uint64(i); }
    bool Double(double d) { return skipping() || m_handler.Double(d); }
    bool RawNumber(const char *s, rapidjson::SizeType n, bool)
    {
        if (m_marking && std::exchange(m_marking->numberAside, false)) {
            const std::string &text = m_marking->number;
            return skipping() || number(text.data(), text.data() + text.size());
        }
        return skipping() || number(s, s + n);
    }
    bool String(const char *s, rapidjson::SizeType n, bool copy)
    {
        if (takeNotUtf8())
            return skipping() ||
                   m_handler.String(kNotUtf8Text, rapidjson::SizeType(sizeof kNotUtf8Text - 1), false);
        return skipping() || m_handler.String(s, n, copy);
    }
    bool Key(const char *s, rapidjson::SizeType n, bool copy)
    {
        if (takeNotUtf8())
            return skipping() ||
                   m_handler.Key(kNotUtf8Text, rapidjson::SizeType(sizeof kNotUtf8Text - 1), false);
        return skipping() || m_handler.Key(s, n, copy);
    }
    bool StartObject() { return open() && (skipping() || m_handler.StartObject()); }
    bool StartArray() { return open() && (skipping() || m_handler.StartArray()); }
    bool EndObject(rapidjson::SizeType n) { return close() || m_handler.EndObject(n); }
    bool EndArray(rapidjson::SizeType n) { return close() || m_handler.EndArray(n); }

private:
    bool skipping() const { return m_depth > m_maxDepth; }

    bool number(const char *first, const char *last)
    {
        const ParsedNumber n = parseNumber(first, last);
        switch (n.kind) {
        case ParsedNumber::Int64:
            return m_handler.Int64(n.i);
        case ParsedNumber::Uint64:
            return m_handler.Uint64(n.u);
        case ParsedNumber::Double:
            return m_handler.Double(n.d);
        case ParsedNumber::TooBig:
            break;
        }
        if (m_marking)
            return m_handler.String(kTooBigText, rapidjson::SizeType(sizeof kTooBigText - 1), false);
        m_tooBig = true;
        return false;
    }

    bool takeNotUtf8() { return m_marking && std::exchange(m_marking->notUtf8, false); }

    bool open()
    {
        if (++m_depth <= m_maxDepth)
            return true;
        if (m_tooDeep == TooDeep::Mark && m_depth <= kMarkCeiling)
            return true;
        m_exceeded = true;
        return false;
    }

    // True when the closed level was dropped, so the handler has nothing to close.
    bool close()
    {
        if (m_depth-- <= m_maxDepth)
            return false;
        if (m_depth == m_maxDepth)
            m_handler.String(kTooDeepText, rapidjson::SizeType(sizeof kTooDeepText - 1), false);
        return true;
    }

    // Marking still costs the parser a few bytes for every open level; past this the text is refused.
    static constexpr int kMarkCeiling = kMaxDepth * 2048;

    Handler &m_handler;
    TooDeep m_tooDeep;
    int m_maxDepth;
    int m_depth = 0;
    Marking *m_marking;
    bool m_exceeded = false;
    bool m_tooBig = false;
};

// Parses the text `stream` gives (a UTF-8 byte-order mark already skipped) into `handler`'s events; throws
// DecodeError on malformed text and, unless marking them, on numbers no double holds, strings and keys that
// are not UTF-8 and values nested deeper than kMaxDepth. Never recurses.
template <typename Stream, typename Handler>
void parseEvents(Stream &stream, Handler &handler, TooDeep tooDeep = TooDeep::Refuse,
                 int maxDepth = kMaxDepth, Damaged damaged = Damaged::Refuse)
{
    // Numbers come as text and are converted by parseNumber: RapidJSON 1.1's full-precision path
    // crashes and misreads on some long or zero mantissas. Unless marked, invalid UTF-8 is malformed
    // JSON. The iterative parser keeps its levels on the heap, so deep text cannot overflow the stack.
    constexpr unsigned kFlags = rapidjson::kParseNumbersAsStringsFlag |
                                rapidjson::kParseValidateEncodingFlag | rapidjson::kParseIterativeFlag;
    const auto parse = [&](auto &reader, auto &input, Marking *marking) {
        DepthLimit<Handler> limit(handler, tooDeep, maxDepth, marking);
        const rapidjson::ParseResult result = reader.template Parse<kFlags>(input, limit);
        if (result.IsError() || limit.exceeded() || limit.tooBig())
            throw parseError(result, limit.exceeded(), limit.tooBig());
    };
    if (damaged == Damaged::Mark) {
        rapidjson::GenericReader<MarkingUtf8, MarkingUtf8> reader;
        MarkingStream<Stream> marked(stream);
        parse(reader, marked, &marked.marking());
    } else {
        rapidjson::Reader reader;
        parse(reader, stream, nullptr);
    }
}

} // namespace json
