#include "editor/markdown_export.h"

#include "blocks/block_content.h"

#include <QHash>
#include <QSet>
#include <QStringList>

#include <algorithm>

namespace {

constexpr auto kUntitled = "Untitled";
constexpr auto kDefaultCalloutIcon = "\U0001F4A1";
constexpr auto kFence = "```";

void sortByPosition(std::vector<const FNBlock *> &blocks)
{
    std::stable_sort(blocks.begin(), blocks.end(),
                     [](const FNBlock *a, const FNBlock *b) { return listedBefore(*a, *b); });
}

// The parts one block adds; `counter` numbers consecutive "number" items.
void addParts(const FNBlock &block, int &counter, QStringList &parts)
{
    const JSONObject content = BlockContent::decode(block.contentJSON);
    const QString text = BlockContent::readString(content, QStringLiteral("text"));
    const QString &type = block.type;
    if (type != QLatin1String("number"))
        counter = 0;

    const auto linked = [&](const QString &shown) {
        const QString url = BlockContent::readString(content, QStringLiteral("url"));
        if (!url.isEmpty())
            parts << shown.arg(url);
    };
    if (type == QLatin1String("h1")) {
        parts << QStringLiteral("# ") + text;
    } else if (type == QLatin1String("h2")) {
        parts << QStringLiteral("## ") + text;
    } else if (type == QLatin1String("h3")) {
        parts << QStringLiteral("### ") + text;
    } else if (type == QLatin1String("bullet")) {
        parts << QStringLiteral("- ") + text;
    } else if (type == QLatin1String("number")) {
        ++counter;
        parts << QString::number(counter) + QStringLiteral(". ") + text;
    } else if (type == QLatin1String("todo")) {
        const bool checked = BlockContent::readBool(content, QStringLiteral("checked"));
        parts << (checked ? QStringLiteral("- [x] ") : QStringLiteral("- [ ] ")) + text;
    } else if (type == QLatin1String("quote")) {
        parts << QStringLiteral("> ") + text;
    } else if (type == QLatin1String("callout")) {
        const QString icon =
            BlockContent::readString(content, QStringLiteral("icon"), QString::fromUtf8(kDefaultCalloutIcon));
        parts << QStringLiteral("> ") + icon + QLatin1Char(' ') + text;
    } else if (type == QLatin1String("code")) {
        parts << QLatin1String(kFence) + QLatin1Char('\n') + text + QLatin1Char('\n') + QLatin1String(kFence);
    } else if (type == QLatin1String("divider")) {
        parts << QStringLiteral("---");
    } else if (type == QLatin1String("toggle")) {
        parts << QStringLiteral("- ") + text;
        const QString body = BlockContent::readString(content, QStringLiteral("body"));
        if (!body.isEmpty())
            parts << QStringLiteral("  ") + body;
    } else if (type == QLatin1String("image")) {
        linked(QStringLiteral("![](%1)"));
    } else if (type == QLatin1String("file") || type == QLatin1String("audio") ||
               type == QLatin1String("embed") || type == QLatin1String("bookmark")) {
        linked(QLatin1Char('[') + type + QStringLiteral("](%1)"));
    } else if (type == QLatin1String("math")) {
        parts << QStringLiteral("$$\n") + BlockContent::readString(content, QStringLiteral("latex")) +
                     QStringLiteral("\n$$");
    } else if (!text.isEmpty()) {
        parts << text;
    }
}

} // namespace

std::vector<FNBlock> blocksInReadingOrder(const std::vector<FNBlock> &blocks)
{
    QSet<QString> liveLocalIDs;
    QSet<qint64> liveServerIDs;
    for (const FNBlock &block : blocks) {
        if (block.deletedAt)
            continue;
        liveLocalIDs.insert(block.localID);
        if (block.serverID != 0)
            liveServerIDs.insert(block.serverID);
    }
    std::vector<const FNBlock *> roots;
    QHash<QString, std::vector<const FNBlock *>> byLocalParent;
    QHash<qint64, std::vector<const FNBlock *>> byServerParent;
    for (const FNBlock &block : blocks) {
        if (block.deletedAt)
            continue;
        // A block whose parent is not on the page is exported at the top level, not lost.
        if (!block.parentBlockLocalID.isEmpty() && liveLocalIDs.contains(block.parentBlockLocalID))
            byLocalParent[block.parentBlockLocalID].push_back(&block);
        else if (block.parentBlockLocalID.isEmpty() && block.parentBlockServerID != 0 &&
                 liveServerIDs.contains(block.parentBlockServerID))
            byServerParent[block.parentBlockServerID].push_back(&block);
        else
            roots.push_back(&block);
    }
    sortByPosition(roots);
    for (auto &children : byLocalParent)
        sortByPosition(children);
    for (auto &children : byServerParent)
        sortByPosition(children);

    std::vector<FNBlock> ordered;
    ordered.reserve(blocks.size());
    // Links that loop, or two blocks claiming one child, must not repeat a block or never end.
    QSet<QString> visited;
    const auto walk = [&](const std::vector<const FNBlock *> &from) {
        std::vector<const FNBlock *> stack(from.rbegin(), from.rend());
        while (!stack.empty()) {
            const FNBlock *block = stack.back();
            stack.pop_back();
            if (visited.contains(block->localID))
                continue;
            visited.insert(block->localID);
            ordered.push_back(*block);
            std::vector<const FNBlock *> children = byLocalParent.value(block->localID);
            if (block->serverID != 0) {
                const auto server = byServerParent.constFind(block->serverID);
                if (server != byServerParent.cend()) {
                    children.insert(children.end(), server->begin(), server->end());
                    sortByPosition(children);
                }
            }
            stack.insert(stack.end(), children.rbegin(), children.rend());
        }
    };
    walk(roots);
    // Blocks whose parents only lead round in a loop are reached from no root: they follow.
    std::vector<const FNBlock *> rest;
    for (const FNBlock &block : blocks) {
        if (!block.deletedAt && !visited.contains(block.localID))
            rest.push_back(&block);
    }
    sortByPosition(rest);
    walk(rest);
    return ordered;
}

QString renderMarkdown(const QString &title, const std::vector<FNBlock> &blocks)
{
    QStringList parts;
    parts << QStringLiteral("# ") + (title.isEmpty() ? QString::fromLatin1(kUntitled) : title) +
                 QLatin1Char('\n');
    int counter = 0;
    for (const FNBlock &block : blocksInReadingOrder(blocks))
        addParts(block, counter, parts);
    return parts.join(QStringLiteral("\n\n")) + QLatin1Char('\n');
}

QString markdownFileName(const QString &title)
{
    QString name = title.isEmpty() ? QString::fromLatin1(kUntitled) : title;
    name.replace(QLatin1Char('/'), QLatin1Char('-'));
    return name + QStringLiteral(".md");
}
