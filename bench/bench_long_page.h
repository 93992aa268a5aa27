// The long page the editor benchmarks share, and their anchor: the page's text in one QTextDocument.
#pragma once

#include "bench_state.h"
#include "blocks/block_content.h"
#include "store/local_store.h"

#include <QAbstractTextDocumentLayout>
#include <QElapsedTimer>
#include <QTextDocument>

namespace BenchLongPage {

inline constexpr int kBlocks = 2000;
inline constexpr qint64 kServerID = 99000;

// The long page, appended to the large state; its localID.
inline QString add(StoreState &state)
{
    BenchState::Generator g;
    FNPage page;
    page.serverID = kServerID;
    page.workspaceServerID = 100;
    page.title = QStringLiteral("The long page");
    page.position = BenchState::kPages;
    state.pages.push_back(page);
    const char *types[] = {"text", "text", "text", "text", "h1", "h2", "bullet", "bullet", "todo", "quote"};
    for (int i = 0; i < kBlocks; ++i) {
        FNBlock b;
        b.serverID = 900000 + i;
        b.pageServerID = page.serverID;
        b.pageLocalID = page.localID;
        b.type = QString::fromLatin1(types[g.pick(int(std::size(types)))]);
        b.contentJSON = *BlockContent::encode({{QStringLiteral("text"), g.words(4, 60)}});
        b.position = i;
        state.blocks.push_back(b);
    }
    return page.localID;
}

// A data folder holding the large state and the long page, saved; the page's localID.
inline QString seed(const QString &folder)
{
    QString pageLocalID;
    LocalStore store(folder);
    store.change([&](StoreState &s) {
        s = BenchState::generate();
        pageLocalID = add(s);
    });
    store.save();
    return pageLocalID;
}

// The page's text, a line a block.
inline QString text(const LocalStore &store, const QString &pageLocalID)
{
    QString text;
    for (const FNBlock *block : store.blocksOfPage(pageLocalID))
        text += BlockContent::readString(BlockContent::decode(block->contentJSON), QStringLiteral("text")) +
                QLatin1Char('\n');
    return text;
}

// The anchor: the page's text in one document, laid out at the view's width. Milliseconds.
inline double documentAnchor(const QString &text)
{
    QElapsedTimer t;
    t.start();
    QTextDocument doc;
    doc.setPlainText(text);
    doc.setTextWidth(900);
    (void)doc.documentLayout()->documentSize();
    return double(t.nsecsElapsed()) / 1e6;
}

} // namespace BenchLongPage
