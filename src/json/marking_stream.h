#pragma once

#include <rapidjson/encodings.h>

#include <string>
#include <string_view>

// What lets a parse go on past a number no double holds or text that is not UTF-8, so each can be
// marked where it stands (json::Damaged::Mark) instead of failing the whole text.
namespace json {

// What a MarkingStream found for the events still to come.
struct Marking {
    bool notUtf8 = false;     // the string or key being read is not UTF-8
    bool numberAside = false; // the parser reads a stand-in for `number`
    std::string number;
};

// True for text the JSON grammar takes as a number.
bool isJsonNumber(std::string_view text);

// UTF-8 as the parser reads it when marking: it accepts what UTF8::Validate accepts, and where that
// refuses it tells the stream and goes on after the bytes that fit, so a quote or backslash after a
// cut-short sequence still ends the string or escapes as it does.
struct MarkingUtf8 : rapidjson::UTF8<> {
    template <typename InputStream, typename OutputStream>
    static bool Validate(InputStream &is, OutputStream &os)
    {
        const auto lead = static_cast<unsigned char>(is.Take());
        os.Put(static_cast<Ch>(lead));
        if (lead < 0x80)
            return true;
        // Continuation bytes to come, and the ranges the first of them may take (UTF8::Validate's).
        int tails = 0;
        unsigned first = 0x70;
        switch (GetRange(lead)) {
        case 2:
            tails = 1;
            break;
        case 3:
            tails = 2;
            break;
        case 4:
            tails = 2;
            first = 0x50;
            break;
        case 5:
            tails = 3;
            first = 0x10;
            break;
        case 6:
            tails = 3;
            break;
        case 10:
            tails = 2;
            first = 0x20;
            break;
        case 11:
            tails = 3;
            first = 0x60;
            break;
        default:
            is.marking().notUtf8 = true;
            return true;
        }
        for (unsigned mask = first; tails > 0; --tails, mask = 0x70) {
            if ((GetRange(static_cast<unsigned char>(is.Peek())) & mask) == 0) {
                is.marking().notUtf8 = true;
                return true;
            }
            os.Put(is.Take());
        }
        return true;
    }
};

// `Stream` as a parser over MarkingUtf8 reads it. RapidJSON refuses some numbers itself (an
// exponent past 308, many digits before the point) before any handler sees them, so each number
// outside strings is read ahead and, where the grammar takes it, the parser gets a "0" padded to the
// same length while the text waits in `marking().number`: offsets in errors stay those of the text.
template <typename Stream>
class MarkingStream
{
public:
    using Ch = typename Stream::Ch;

    explicit MarkingStream(Stream &stream)
        : m_stream(stream)
    {
    }

    Marking &marking() { return m_marking; }

    Ch Peek()
    {
        if (m_at < m_serve.size())
            return m_serve[m_at];
        const Ch c = m_stream.Peek();
        if (!m_inString && (c == '-' || (c >= '0' && c <= '9'))) {
            readNumber();
            return m_serve[0];
        }
        return c;
    }
    Ch Take()
    {
        if (m_at < m_serve.size())
            return m_serve[m_at++];
        const Ch c = m_stream.Take();
        if (!m_inString)
            m_inString = c == '"';
        else if (m_escaped)
            m_escaped = false;
        else if (c == '\\')
            m_escaped = true;
        else if (c == '"')
            m_inString = false;
        return c;
    }
    size_t Tell() const { return m_stream.Tell() - (m_serve.size() - m_at); }

    // Unused by reading; the parser's template names them.
    void Put(Ch) {}
    void Flush() {}
    Ch *PutBegin() { return nullptr; }
    size_t PutEnd(Ch *) { return 0; }

private:
    void readNumber()
    {
        std::string &text = m_marking.number;
        text.clear();
        for (Ch c = m_stream.Peek();
             (c >= '0' && c <= '9') || c == '-' || c == '+' || c == '.' || c == 'e' || c == 'E';
             c = m_stream.Peek())
            text.push_back(m_stream.Take());
        m_at = 0;
        if (!isJsonNumber(text)) {
            m_serve = text; // the parser reports it as it would
            return;
        }
        m_serve.assign(text.size(), ' ');
        m_serve[0] = '0';
        m_marking.numberAside = true;
    }

    Stream &m_stream;
    Marking m_marking;
    std::string m_serve; // what the parser reads before `m_stream` again
    size_t m_at = 0;
    bool m_inString = false;
    bool m_escaped = false;
};

} // namespace json
