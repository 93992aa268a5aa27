#include "json/marking_stream.h"

namespace json {

bool isJsonNumber(std::string_view text)
{
    // -?(0|[1-9][0-9]*)(\.[0-9]+)?([eE][+-]?[0-9]+)?
    size_t at = 0;
    const auto digit = [&] { return at < text.size() && text[at] >= '0' && text[at] <= '9'; };
    const auto digits = [&] {
        const size_t from = at;
        while (digit())
            ++at;
        return at > from;
    };
    if (at < text.size() && text[at] == '-')
        ++at;
    if (at < text.size() && text[at] == '0')
        ++at;
    else if (!digits())
        return false;
    if (at < text.size() && text[at] == '.') {
        ++at;
        if (!digits())
            return false;
    }
    if (at < text.size() && (text[at] == 'e' || text[at] == 'E')) {
        ++at;
        if (at < text.size() && (text[at] == '+' || text[at] == '-'))
            ++at;
        if (!digits())
            return false;
    }
    return at == text.size();
}

} // namespace json
