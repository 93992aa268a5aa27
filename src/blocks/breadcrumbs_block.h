#pragma once

#include "blocks/block_view.h"

#include <QSet>
#include <QString>

#include <vector>

struct FNPage;
class LocalStore;

// The trail of pages above the page that holds it; it stores nothing of its own.
namespace BreadcrumbsBlock {

inline constexpr int kMaxAncestors = 20;

struct Trail {
    std::vector<const FNPage *> pages; // topmost ancestor first, the page itself last
    QSet<qint64> parentIDs;            // every parent id looked up, found or not
};

// Follows the parent links up from the page, deleted pages included (a live copy of an id wins
// over a deleted one). Stops at a missing parent, at an id seen before, and after 20 ancestors.
Trail trail(const LocalStore &store, const QString &pageLocalID);
// The title, else "Untitled".
QString title(const FNPage &page);

BlockView *makeView(BlockHost &host);

} // namespace BreadcrumbsBlock

// House > ancestors > page. It re-reads only when a page of the trail, or one carrying an id the
// trail looked for, changes.
class BreadcrumbsBlockView : public BlockView
{
    Q_OBJECT
public:
    explicit BreadcrumbsBlockView(BlockHost &host, QWidget *parent = nullptr);

    void refresh() override;
    // The titles shown, in order.
    const QStringList &shown() const { return m_titles; }

private:
    void onPageChanged(const QString &localID);
    void rebuild();

    QStringList m_titles;
    QSet<QString> m_trailIDs;
    QSet<qint64> m_parentIDs;
    bool m_built = false;
};
