#pragma once

#include <QHashFunctions>
#include <QString>
#include <QStringView>

#include <array>
#include <optional>

// The kinds of block, stored in `FNBlock::type` by their raw value. The declared order is the order
// every list of kinds uses (the row's menu, the slash menu and its sections).
class BlockType
{
public:
    enum Case : quint8 {
        text,
        h1,
        h2,
        h3,
        bullet,
        number,
        todo,
        quote,
        callout,
        code,
        divider,
        toggle,
        image,
        drawing,
        audio,
        file,
        embed,
        bookmark,
        math,
        toc,
        mention,
        breadcrumbs,
        button,
        columns,
        synced,
        database,
    };
    static constexpr int kCount = 26;

    constexpr BlockType(Case value)
        : m_case(value)
    {
    }

    constexpr Case value() const { return m_case; }
    QString rawValue() const;
    // The name shown in menus; never stored.
    QString label() const;

    // Exact, case-sensitive match against the raw values.
    static std::optional<BlockType> fromRawValue(QStringView raw);
    static const std::array<BlockType, kCount> &allCases();

    friend constexpr bool operator==(BlockType, BlockType) = default;

private:
    Case m_case;
};

inline size_t qHash(BlockType type, size_t seed = 0) noexcept
{
    return qHash(int(type.value()), seed);
}
