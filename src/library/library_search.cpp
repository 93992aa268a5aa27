#include "library/library_search.h"

#include "api/service_client.h"
#include "library/library_tree.h"
#include "store/local_store.h"

#include <QPointer>
#include <QSet>
#include <QTextBoundaryFinder>

namespace {

// More than one character as the user perceives them: "é" typed as e + accent is one.
bool longerThanOneCharacter(const QString &text)
{
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    int count = 0;
    while (finder.toNextBoundary() >= 0) {
        if (++count > 1)
            return true;
    }
    return false;
}

} // namespace

LibrarySearch::LibrarySearch(LocalStore &store, ServiceClient &client, QObject *parent)
    : QObject(parent)
    , m_store(store)
    , m_client(client)
{
    m_debounce.setSingleShot(true);
    m_debounce.setInterval(kDebounce);
    connect(&m_debounce, &QTimer::timeout, this, [this] { serverSearch(m_query); });
}

void LibrarySearch::setDebounce(std::chrono::milliseconds delay)
{
    m_debounce.setInterval(delay);
}

void LibrarySearch::setQuery(const QString &query)
{
    if (query == m_query)
        return;
    m_query = query;
    ++m_ticket;
    m_debounce.stop();
    // Hits answer the text they were asked for; under another text they would list pages that
    // may not match it, and offline they would never be replaced.
    m_hits.clear();
    m_searching = longerThanOneCharacter(query);
    if (m_searching)
        m_debounce.start();
    Q_EMIT queryChanged();
}

QCoro::Task<> LibrarySearch::serverSearch(QString query)
{
    const quint64 ticket = m_ticket;
    const qint64 workspace = m_store.currentWorkspaceServerID();
    if (!m_client.isSignedIn() || workspace == 0) {
        finishSearch(ticket);
        co_return;
    }
    QPointer<LibrarySearch> self(this);
    std::optional<SearchResp> reply;
    try {
        // The query is percent-encoded there, so "&" and "=" stay part of it.
        reply = co_await m_client.search(workspace, query);
    } catch (...) {
        // Silent: the title matches are all there is for this query.
    }
    if (!self || ticket != m_ticket)
        co_return;
    if (reply)
        m_hits = std::move(reply->pages);
    m_searching = false;
    Q_EMIT hitsChanged();
}

void LibrarySearch::finishSearch(quint64 ticket)
{
    if (ticket != m_ticket || !m_searching)
        return;
    m_searching = false;
    Q_EMIT hitsChanged();
}

std::vector<FNPage> LibrarySearch::results() const
{
    return mergeResults(LibraryTree::workspacePages(m_store), m_query, m_hits);
}

std::vector<FNPage> LibrarySearch::mergeResults(const std::vector<FNPage> &pages, const QString &query,
                                                const std::vector<SearchHit> &hits)
{
    std::vector<FNPage> out;
    QSet<QString> local;
    for (const FNPage &p : pages) {
        if (p.title.contains(query, Qt::CaseInsensitive)) {
            out.push_back(p);
            local.insert(p.localID);
        }
    }
    QSet<qint64> ids;
    for (const SearchHit &hit : hits)
        ids.insert(hit.id);
    for (const FNPage &p : pages) {
        if (p.serverID != 0 && ids.contains(p.serverID) && !local.contains(p.localID))
            out.push_back(p);
    }
    return out;
}

QString LibrarySearch::emptySubtitle(const QString &query)
{
    return QStringLiteral("Nothing matched \"") + query +
           QStringLiteral("\". Try a shorter query or different words.");
}
