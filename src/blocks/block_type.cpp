#include "blocks/block_type.h"

#include <utility>

namespace {

struct Entry {
    const char *raw;
    const char *label;
};

constexpr std::array<Entry, BlockType::kCount> kEntries{{
    {"text", "Text"},
    {"h1", "Heading 1"},
    {"h2", "Heading 2"},
    {"h3", "Heading 3"},
    {"bullet", "Bullet list"},
    {"number", "Numbered list"},
    {"todo", "To-do"},
    {"quote", "Quote"},
    {"callout", "Callout"},
    {"code", "Code"},
    {"divider", "Divider"},
    {"toggle", "Toggle"},
    {"image", "Image"},
    {"drawing", "Drawing"},
    {"audio", "Audio / voice note"},
    {"file", "File attachment"},
    {"embed", "Embed (YouTube, Vimeo, iframe)"},
    {"bookmark", "Bookmark"},
    {"math", "Math (LaTeX)"},
    {"toc", "Table of contents"},
    {"mention", "Page link"},
    {"breadcrumbs", "Breadcrumbs"},
    {"button", "Button"},
    {"columns", "Columns"},
    {"synced", "Synced block"},
    {"database", "Database"},
}};

} // namespace

QString BlockType::rawValue() const
{
    return QString::fromLatin1(kEntries[m_case].raw);
}

QString BlockType::label() const
{
    return QString::fromUtf8(kEntries[m_case].label);
}

std::optional<BlockType> BlockType::fromRawValue(QStringView raw)
{
    for (int i = 0; i < kCount; ++i) {
        if (raw == QLatin1String(kEntries[size_t(i)].raw))
            return BlockType(Case(i));
    }
    return std::nullopt;
}

const std::array<BlockType, BlockType::kCount> &BlockType::allCases()
{
    static constexpr auto cases = []<size_t... I>(std::index_sequence<I...>)
    {
        return std::array<BlockType, kCount>{BlockType(Case(I))...};
    }
    (std::make_index_sequence<kCount>{});
    return cases;
}
