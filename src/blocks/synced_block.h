#pragma once

#include "blocks/block_view.h"
#include "blocks/record_link.h"

#include <QPointer>
#include <QSet>
#include <QString>
#include <QTimer>

#include <vector>

struct FNBlock;
class LocalStore;
class QAbstractButton;
class QLineEdit;
class QVBoxLayout;

// A copy of another block, by the source block's server id.
namespace SyncedBlock {

inline constexpr char kSourceIDKey[] = "source_id";
using Content = RecordLink<kSourceIDKey>;

inline constexpr int kMaxResults = 8;
// Blocks looked at per slice of the view's search: a few milliseconds' work.
inline constexpr size_t kSliceBlocks = 10000;

// The first live block with the id; null for 0, or when it is deleted or not here.
const FNBlock *source(const LocalStore &store, qint64 sourceServerID);
// The stored "text" as it stands, markers included; "" when the content has none.
QString blockPreviewText(const FNBlock &block);
// The title of the block's page (deleted pages included), as stored; "Untitled" without one.
QString pageTitle(const LocalStore &store, const FNBlock &block);
// Whether a block of this kind can be mirrored: the ten text kinds.
bool isSearchable(const QString &type);
// Live blocks on the service, of the text kinds, whose text holds the query in any case, in store
// order, at most eight; none for an empty query.
std::vector<const FNBlock *> searchResults(const LocalStore &store, const QString &query);
// One slice of that search: the blocks from position `from`, `count` of them, added to `found`
// until it holds eight. Returns where the next slice starts (the end once done or full).
size_t searchSlice(const LocalStore &store, const QString &query, size_t from, size_t count,
                   std::vector<const FNBlock *> &found);

BlockView *makeView(BlockHost &host);

} // namespace SyncedBlock

// The mirror: the source's live text and "Synced from “page”" with "Unlink"; "Synced source was
// deleted" with "Re-link" when it is gone; the search while it mirrors nothing. It re-reads only
// when the source, its page, or a result shown changes.
class SyncedBlockView : public BlockView
{
    Q_OBJECT
public:
    explicit SyncedBlockView(BlockHost &host, QWidget *parent = nullptr);

    void refresh() override;
    QWidget *entryWidget() const override;

    enum class State { Search, Linked, Broken };
    State state() const { return m_state; }
    QLineEdit *searchField() const;
    QList<QAbstractButton *> resultButtons() const;
    bool isSearching() const { return m_searchSlices.isActive(); }
    // The mirror's text and its "Synced from" line, as shown.
    QString previewText() const;
    QString sourceLine() const;

private:
    void onBlockChanged(const QString &localID);
    void onPageChanged(const QString &localID);
    void pick(qint64 serverID);
    void rebuild(const FNBlock *source);
    // A search runs in slices between events, so a keystroke never waits for a pass over every
    // block; a new query starts over.
    void startSearch();
    void searchNextSlice();
    void showResults();

    State m_state = State::Search;
    qint64 m_target = 0;
    QString m_sourceLocalID;
    QString m_sourcePageLocalID;
    bool m_built = false;
    QSet<QString> m_resultIDs;
    QString m_query;
    size_t m_searchFrom = 0;
    QStringList m_found; // local ids, in store order
    QTimer m_searchSlices;
    QPointer<QLineEdit> m_field;
    QPointer<QWidget> m_results;
    QPointer<QLabel> m_preview;
    QPointer<QLabel> m_line;
};
