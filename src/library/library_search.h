#pragma once

#include "api/wire/library.h"
#include "store/fn_page.h"

#include <QCoroTask>
#include <QObject>
#include <QString>
#include <QTimer>

#include <chrono>
#include <vector>

class LocalStore;
class ServiceClient;

// The sidebar's search: page titles of the current workspace filtered at once on every keystroke,
// and, once typing pauses, the service's search for the workspace, whose hits add the local pages
// they name. Only the search started by the latest query may store hits, and hits are shown only
// under the query they answer: a newer query drops them at once, a failed search leaves none.
class LibrarySearch : public QObject
{
    Q_OBJECT
public:
    static constexpr std::chrono::milliseconds kDebounce{250};
    static constexpr const char *kPrompt = "Search pages";
    static constexpr const char *kNoMatches = "No matches";
    static constexpr const char *kSearching = "Searching\u2026";

    LibrarySearch(LocalStore &store, ServiceClient &client, QObject *parent = nullptr);

    void setDebounce(std::chrono::milliseconds delay);

    const QString &query() const { return m_query; }
    // The field's text as typed (never trimmed). Every change drops the service's hits; queries of
    // two characters or more (as the user perceives them) ask the service again after the pause.
    void setQuery(const QString &query);
    bool isActive() const { return !m_query.isEmpty(); }
    // The service has not yet answered (or failed) for the current query.
    bool isSearching() const { return m_searching; }

    const std::vector<SearchHit> &serverSearchHits() const { return m_hits; }
    // The local title matches, then the pages only the service found, each once, in tree order.
    std::vector<FNPage> results() const;
    static std::vector<FNPage> mergeResults(const std::vector<FNPage> &pages, const QString &query,
                                            const std::vector<SearchHit> &hits);
    // The explanation under "No matches".
    static QString emptySubtitle(const QString &query);

    // One search of the service for `query`; stores its hits unless a newer query came meanwhile.
    QCoro::Task<> serverSearch(QString query);

Q_SIGNALS:
    void queryChanged();
    void hitsChanged();

private:
    void finishSearch(quint64 ticket);

    LocalStore &m_store;
    ServiceClient &m_client;
    QString m_query;
    std::vector<SearchHit> m_hits;
    QTimer m_debounce;
    quint64 m_ticket = 0; // each query change makes the searches already started stale
    bool m_searching = false;
};
