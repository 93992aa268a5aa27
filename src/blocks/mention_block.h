#pragma once

#include "blocks/block_view.h"
#include "json/json_value.h"
#include "store/page_links.h"

#include <QPointer>
#include <QString>

#include <vector>

struct FNPage;
class LocalStore;
class QAbstractButton;
class QFrame;
class QLineEdit;

// A link to another page, by the page's server id; to a page not on the service yet, by its local
// id until it has one.
namespace MentionBlock {

// The keys the store resolves when the page gets its server id.
using pageLinks::kPageIDKey;
using pageLinks::kPageLocalIDKey;

struct Content {
    qint64 serverID = 0; // 0: none (anything but a JSON integer reads as none)
    QString pageLocalID; // kept only while serverID is 0

    static Content read(const JSONObject &content);
    void write(JSONObject &content) const;
};

inline constexpr int kMaxResults = 8;

// The page the content points at, deleted or not; null when it links to nothing here.
const FNPage *targetPage(const LocalStore &store, const Content &content);
// Live pages whose title holds the query in any case, in store order, at most eight; none for an
// empty query (one of spaces is searched as it is).
std::vector<const FNPage *> searchResults(const LocalStore &store, const QString &query);
// The page's icon, else the page-facing-up emoji, and its title, else "Untitled".
QString chipText(const FNPage &page);

BlockView *makeView(BlockHost &host);

} // namespace MentionBlock

// "Page link": the search while it links to nothing, the page's chip while it does, and "Linked
// page was deleted" when the page is gone. It re-reads only when the linked page, or while
// searching any page, changes.
class MentionBlockView : public BlockView
{
    Q_OBJECT
public:
    explicit MentionBlockView(BlockHost &host, QWidget *parent = nullptr);
    ~MentionBlockView() override;

    void refresh() override;
    QWidget *entryWidget() const override;

    enum class State { Search, Linked, Missing };
    State state() const { return m_state; }
    QLineEdit *searchField() const;
    // The result buttons shown under the field, in order.
    QList<QAbstractButton *> resultButtons() const;
    QString chipLabel() const;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void onPageChanged(const QString &localID);
    void pick(const MentionBlock::Content &link);
    QWidget *makeSearch();
    QWidget *makeChip(const FNPage &page);
    QWidget *makeMissing();
    void showResults();
    void hideResults();

    State m_state = State::Search;
    qint64 m_target = 0;
    QString m_shownPage; // local id of the page the chip shows
    bool m_built = false;
    QPointer<QLineEdit> m_field;
    QPointer<QLabel> m_chip;
    QPointer<QFrame> m_results; // floats over the page, in the window
};
