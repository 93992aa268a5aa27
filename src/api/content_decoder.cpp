#include "api/content_decoder.h"

#include <QList>

#include <zlib.h>

#include <utility>

ContentDecoder::ContentDecoder() = default;

ContentDecoder::~ContentDecoder()
{
    release();
}

void ContentDecoder::release()
{
    if (m_stream)
        inflateEnd(m_stream.get());
    m_stream.reset();
}

void ContentDecoder::reset(QByteArrayView contentEncoding)
{
    release();
    m_started = false;
    m_ended = false;
    m_sniffed.clear();
    m_produced = 0;
    QList<QByteArray> codings;
    for (const QByteArray &part : contentEncoding.toByteArray().toLower().split(',')) {
        const QByteArray coding = part.trimmed();
        if (!coding.isEmpty() && coding != "identity")
            codings.append(coding);
    }
    if (codings.isEmpty())
        m_kind = Kind::None;
    else if (codings.size() > 1)
        m_kind = Kind::Unknown;
    else if (codings.front() == "gzip" || codings.front() == "x-gzip")
        m_kind = Kind::Gzip;
    else if (codings.front() == "deflate")
        m_kind = Kind::Deflate;
    else
        m_kind = Kind::Unknown;
}

ContentDecoder::Outcome ContentDecoder::feed(QByteArrayView in, QByteArray &out, qint64 maxOut)
{
    if (in.isEmpty())
        return Outcome::Ok;
    if (m_kind == Kind::None) {
        out.append(in);
        m_produced += in.size();
        return maxOut >= 0 && m_produced > maxOut ? Outcome::TooLarge : Outcome::Ok;
    }
    // Nothing may follow the end: a second gzip member or stray bytes would go unchecked.
    if (m_kind == Kind::Unknown || m_ended)
        return Outcome::Corrupt;
    QByteArray sniffed;
    if (!m_started) {
        int windowBits = 16 + MAX_WBITS;
        if (m_kind == Kind::Deflate) {
            // Servers send "deflate" both as RFC 1950's zlib stream and as bare deflate data; the
            // first two bytes tell which (method 8, a window of at most 32 KiB, a multiple of 31).
            m_sniffed.append(in);
            if (m_sniffed.size() < 2)
                return Outcome::Ok;
            const uint b0 = uchar(m_sniffed[0]);
            const uint b1 = uchar(m_sniffed[1]);
            const bool wrapped = (b0 & 0x0f) == 8 && (b0 >> 4) <= 7 && ((b0 << 8) | b1) % 31 == 0;
            windowBits = wrapped ? MAX_WBITS : -MAX_WBITS;
            sniffed = std::exchange(m_sniffed, QByteArray());
            in = sniffed;
        }
        m_stream = std::make_unique<z_stream_s>();
        if (inflateInit2(m_stream.get(), windowBits) != Z_OK) {
            m_stream.reset();
            return Outcome::Corrupt;
        }
        m_started = true;
    }
    z_stream &z = *m_stream;
    z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(in.data()));
    z.avail_in = uInt(in.size());
    // Decoded a step at a time, so a small body that inflates enormously stops at the cap.
    constexpr qsizetype kStep = 64 * 1024;
    while (true) {
        const qsizetype at = out.size();
        out.resize(at + kStep);
        z.next_out = reinterpret_cast<Bytef *>(out.data() + at);
        z.avail_out = uInt(kStep);
        const int result = inflate(&z, Z_NO_FLUSH);
        const qsizetype made = kStep - qsizetype(z.avail_out);
        out.resize(at + made);
        m_produced += made;
        if (maxOut >= 0 && m_produced > maxOut)
            return Outcome::TooLarge;
        if (result == Z_STREAM_END) {
            const bool rest = z.avail_in > 0;
            m_ended = true;
            release();
            return rest ? Outcome::Corrupt : Outcome::Ok;
        }
        if (result == Z_BUF_ERROR || (result == Z_OK && z.avail_in == 0 && z.avail_out > 0))
            return Outcome::Ok; // all of `in` taken; the rest of the stream is still to come
        if (result != Z_OK)
            return Outcome::Corrupt;
    }
}

ContentDecoder::Outcome ContentDecoder::finish() const
{
    if (m_kind == Kind::None || m_ended || (!m_started && m_sniffed.isEmpty()))
        return Outcome::Ok;
    return Outcome::Cut;
}
