#include "store/state_file_stream.h"

#include <string_view>

#include <errno.h>
#include <unistd.h>

namespace {

constexpr size_t kPiece = size_t(1) << 20;
// A run is at least this long, so that starting a parse for it costs little beside it.
constexpr size_t kRunSize = size_t(1) << 20;
// Without a cut this far in, the list is not as the store writes it: the rest is read here.
constexpr size_t kGiveUp = 4 * kRunSize;
// One block's end and the next one's start as the store writes them, and a key only blocks have,
// written within a few fields of the start.
constexpr std::string_view kNext = "},{\"localID\":\"";
constexpr std::string_view kBlockKey = ",\"pageServerID\":";
constexpr size_t kBlockKeyWithin = 512;

// Where in `text`, from `from` on, one block ends and the next starts: the index of the '}'.
size_t findCut(std::string_view text, size_t from)
{
    for (size_t at = text.find(kNext, from); at != std::string_view::npos; at = text.find(kNext, at + 1)) {
        // Only a quote that ends a string can follow a '"' text and precede a ':', so outside
        // strings these bytes are always structure; the key tells a block from a page or an outbox
        // entry. A cut inside another value makes a run that does not parse.
        const std::string_view after = text.substr(at + kNext.size(), kBlockKeyWithin);
        const size_t key = after.find(kBlockKey);
        if (key != std::string_view::npos && after.substr(0, key).find('}') == std::string_view::npos)
            return at;
    }
    return std::string_view::npos;
}

} // namespace

StateFileStream::StateFileStream(int fd)
    : m_fd(fd)
    , m_buffer(kPiece + 1)
{
    readPiece();
    // As RapidJSON's memory input does, byte by byte.
    for (const unsigned char mark : {0xEFu, 0xBBu, 0xBFu}) {
        if (static_cast<unsigned char>(Peek()) == mark)
            Take();
    }
}

bool StateFileStream::readPiece()
{
    m_buffer.resize(kPiece + 1);
    ssize_t n = 0;
    do {
        n = ::read(m_fd, m_buffer.data(), kPiece);
    } while (n < 0 && errno == EINTR);
    if (n < 0) {
        m_error = errno;
        n = 0;
    }
    m_buffer[size_t(n)] = '\0';
    m_at = m_buffer.data();
    m_end = m_at + n;
    return n > 0;
}

void StateFileStream::refill()
{
    m_before += size_t(m_end - m_buffer.data());
    readPiece();
}

bool StateFileStream::atNextBlock() const
{
    // The parser tells of an object's end before it takes the '}'.
    return std::string_view(m_at, size_t(m_end - m_at)).starts_with(kNext);
}

bool StateFileStream::split(const std::function<void(std::string)> &run)
{
    if (!atNextBlock())
        return false;
    // The run being gathered: "[" and the text from the next block's '{' on, read straight into it;
    // `start` is where that '{' is in the file.
    std::string pending(1, '[');
    pending.append(m_at + 2, m_end);
    size_t start = Tell() + 2;
    size_t searched = 0; // no cut before this far into `pending`
    for (;;) {
        for (size_t cut = 0; pending.size() > kRunSize &&
                             (cut = findCut(pending, std::max(kRunSize, searched))) != std::string::npos;) {
            std::string next(1, '[');
            next.append(pending, cut + 2);
            pending.resize(cut + 1);
            pending.push_back(']');
            run(std::move(pending));
            pending = std::move(next);
            start += cut + 1;
            searched = 0;
        }
        searched = pending.size() > kNext.size() ? pending.size() - kNext.size() : 0;
        if (pending.size() > kGiveUp || m_error)
            break;
        const size_t gathered = pending.size();
        pending.resize(gathered + kPiece);
        ssize_t n = 0;
        do {
            n = ::read(m_fd, pending.data() + gathered, kPiece);
        } while (n < 0 && errno == EINTR);
        if (n < 0)
            m_error = errno;
        pending.resize(gathered + size_t(std::max<ssize_t>(n, 0)));
        if (n <= 0)
            break;
    }
    // The parser goes on at the block's '}', then the ',' before the text left.
    m_buffer.assign({'}', ','});
    m_buffer.insert(m_buffer.end(), pending.begin() + 1, pending.end());
    m_buffer.push_back('\0');
    m_before = start - 2;
    m_at = m_buffer.data();
    m_end = m_at + m_buffer.size() - 1;
    return true;
}
