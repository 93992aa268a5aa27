#pragma once

#include "blocks/block_view.h"

#include <QPointer>
#include <QString>

#include <vector>

struct FNBlock;
class LocalStore;

// The page's table of contents, made from its headings; it stores nothing of its own.
namespace TocBlock {

// One row: the heading's block, its label and how far it is indented.
struct Entry {
    QString localID;
    QString label;
    int indent = 0;

    bool operator==(const Entry &) const = default;
};

// The live "h1" to "h3" blocks of the page, by position; equal positions keep store order.
std::vector<const FNBlock *> headings(const LocalStore &store, const QString &pageLocalID);
// The stored "text" as it stands (markers and "" included); "Untitled heading" when the content
// does not read or has no text.
QString headingText(const FNBlock &block);
// 0, 14 or 28 points for "h1", "h2", "h3".
int indent(const QString &type);
bool isHeading(const QString &type);
std::vector<Entry> entries(const LocalStore &store, const QString &pageLocalID);

BlockView *makeView(BlockHost &host);

} // namespace TocBlock

// "Contents" and the page's headings, indented by level. It re-reads only when a heading of the
// page, or a block it lists, changes.
class TocBlockView : public BlockView
{
    Q_OBJECT
public:
    explicit TocBlockView(BlockHost &host, QWidget *parent = nullptr);

    void refresh() override;
    const std::vector<TocBlock::Entry> &shown() const { return m_shown; }

private:
    void onBlockChanged(const QString &localID);
    void rebuild();

    QString m_pageLocalID;
    std::vector<TocBlock::Entry> m_shown;
    QList<QPointer<QLabel>> m_labels; // one per entry, in order
    bool m_built = false;
};
