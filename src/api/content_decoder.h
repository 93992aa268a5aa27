#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <memory>

struct z_stream_s;

// Undoes a body's Content-Encoding (gzip, x-gzip or deflate, zlib-wrapped or raw) as it arrives, and
// tells whether it ended exactly where its format says: a gzip member with its checksum and length,
// or a deflate stream with its checksum where it is wrapped. A body cut anywhere decodes to a
// prefix that reads like a whole answer, so only the format's own end can vouch for it.
class ContentDecoder
{
public:
    enum class Outcome { Ok, Corrupt, TooLarge, Cut };

    ContentDecoder();
    ~ContentDecoder();
    ContentDecoder(const ContentDecoder &) = delete;
    ContentDecoder &operator=(const ContentDecoder &) = delete;

    // Starts over for a body with this Content-Encoding value; identity and an absent value leave the
    // body as it is. More than one compression, or one not listed above, is refused when bytes come.
    void reset(QByteArrayView contentEncoding);
    bool isActive() const { return m_kind != Kind::None; }
    // Appends what `in` decodes to onto `out`: Corrupt for bytes the format does not allow, TooLarge
    // once more than `maxOut` bytes were decoded in all (no cap when negative).
    Outcome feed(QByteArrayView in, QByteArray &out, qint64 maxOut);
    // Once the body is over: Cut unless the format's end was reached. An empty body is left alone, as
    // the answers that carry none (HEAD, 204, 304) may still name a coding.
    Outcome finish() const;

private:
    enum class Kind { None, Gzip, Deflate, Unknown };
    void release();

    Kind m_kind = Kind::None;
    std::unique_ptr<z_stream_s> m_stream;
    bool m_started = false;
    bool m_ended = false;
    QByteArray m_sniffed; // deflate's first bytes, until they tell the zlib wrapper from raw data
    qint64 m_produced = 0;
};
