#pragma once

#include "api/wire/collab.h"

#include <QCoroTask>
#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>
#include <optional>
#include <vector>

class ServiceClient;
class SyncEngine;

// The state of one page's suggestions panel: the pending suggested edits the service holds for the
// page, the decision in flight and the one error line. Nothing is kept locally.
class SuggestionsPanelModel : public QObject
{
    Q_OBJECT
public:
    static constexpr const char *kSomeone = "Someone";
    static constexpr const char *kPending = "pending";
    static constexpr const char *kAccepted = "accepted";
    static constexpr const char *kRejected = "rejected";
    // The page's latest edits could not be sent first, and would have landed over the change.
    static constexpr const char *kEditsWaiting =
        "Not accepted: this page's latest changes haven't reached the server yet. Try again in a moment.";

    // `pageServerID` is asked afresh at each load. `engine` may be null (then no sync after an accept).
    SuggestionsPanelModel(ServiceClient &client, SyncEngine *engine, std::function<qint64()> pageServerID,
                          QObject *parent = nullptr);

    const std::vector<SuggestionDTO> &items() const { return m_items; }
    bool isLoading() const { return m_loading; }
    // Once set it stays, covering the list, until the panel closes.
    const std::optional<QString> &error() const { return m_error; }
    std::optional<qint64> actingID() const { return m_actingID; }
    // Grows each time the list changes, so a view redraws its cards only then.
    int listVersion() const { return m_listVersion; }

    QCoro::Task<> loadSuggestions();
    // Sends the decision; an accepted one is followed by one sync cycle. The returned task may be
    // dropped: it runs to its end even when this model goes.
    QCoro::Task<> decide(const SuggestionDTO &suggestion, bool accept);

    // What a card shows.
    static QString kindLabel(const QString &kind);
    static QString kindIcon(const QString &kind);
    static QString author(const SuggestionDTO &suggestion);
    static QString date(const SuggestionDTO &suggestion);
    // The proposed title, else the content's text, else a top-level text; nothing otherwise.
    static std::optional<QString> payloadPreview(const SuggestionDTO &suggestion);

Q_SIGNALS:
    void changed();

private:
    static QCoro::Task<> runDecision(QPointer<SuggestionsPanelModel> self, QPointer<ServiceClient> client,
                                     QPointer<SyncEngine> engine, qint64 id, bool accept,
                                     qint64 pageServerID);
    void decisionEnded(const std::optional<QString> &failure);

    QPointer<ServiceClient> m_client;
    QPointer<SyncEngine> m_engine;
    std::function<qint64()> m_pageServerID;
    std::vector<SuggestionDTO> m_items;
    int m_listVersion = 0;
    bool m_loading = true;
    std::optional<QString> m_error;
    std::optional<qint64> m_actingID;
};
