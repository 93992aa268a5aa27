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
// they name. Only the search started by the latest query may store hits.
class LibrarySearch : public QObject
{
    Q_OBJECT
public:
    static constexpr std::chrono::milliseconds kDebounce{250};
    static constexpr const char *kPrompt = "Search pages";
    static constexpr const char *kNoMatches = "No matches";

    LibrarySearch(LocalStore &store, ServiceClient &client, QObject *parent = nullptr);

    void setDebounce(std::chrono::milliseconds delay);

    const QString &query() const { return m_query; }
    // The field's text as typed (never trimmed). Queries of two characters or more (as the user
    // perceives them) ask the service after the pause; shorter ones drop the service's hits.
    void setQuery(const QString &query);
    bool isActive() const { return !m_query.isEmpty(); }

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
    LocalStore &m_store;
    ServiceClient &m_client;
    QString m_query;
    std::vector<SearchHit> m_hits;
    QTimer m_debounce;
    quint64 m_ticket = 0; // each query change makes the searches already started stale
};
