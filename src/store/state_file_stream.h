#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

// "state.json" read through its descriptor for the parser, able to hand most of the blocks list to
// other parsers: asked right after a block ends, it cuts what follows into runs of whole blocks, each
// ending where the next block starts as the store writes it, gives each run away as the text of a
// list of its own, and goes on with the text after the last cut, so this parser meets the blocks list
// with the runs left out. A cut in a wrong place leaves a run that does not parse, never a wrong read.
class StateFileStream
{
public:
    using Ch = char;

    explicit StateFileStream(int fd);

    Ch Peek() const { return *m_at; }
    Ch Take()
    {
        const Ch c = *m_at;
        if (m_at != m_end && ++m_at == m_end)
            refill();
        return c;
    }
    size_t Tell() const { return m_before + size_t(m_at - m_buffer.data()); }
    // errno of a read that failed, else 0.
    int error() const { return m_error; }

    // True at a block's closing '}' when the next block follows as the store writes it.
    bool atNextBlock() const;
    // Cuts the runs as above and gives each to `run`, in order, as "[...]" text. False, with nothing
    // given, unless atNextBlock().
    bool split(const std::function<void(std::string)> &run);

    // Unused by reading; the parser's template names them.
    void Put(Ch) {}
    void Flush() {}
    Ch *PutBegin() { return nullptr; }
    size_t PutEnd(Ch *) { return 0; }

private:
    // Reads the next piece of the file into `m_buffer`; false at the end or on an error.
    bool readPiece();
    void refill();

    int m_fd;
    std::vector<char> m_buffer; // what is read, then a '\0' the parser takes for the end
    const char *m_at = nullptr;
    const char *m_end = nullptr;
    size_t m_before = 0; // file offset of the buffer's first byte
    int m_error = 0;
};
