#pragma once

#include "api/wire/ai.h"

#include <QCoroTask>
#include <QObject>
#include <QString>
#include <QStringList>

#include <array>
#include <functional>
#include <optional>

class Clipboard;
class ServiceClient;

// The state of one page's AI panel: the chosen action, its input, the last answer and how many
// requests are left today. Every run is a fresh request; nothing is kept when the panel goes.
class AIPanelModel : public QObject
{
    Q_OBJECT
public:
    static constexpr const char *kFailed = "AI request failed";
    static constexpr const char *kAsk = "ask";
    static constexpr const char *kImprove = "improve";
    static constexpr const char *kTranslate = "translate";
    static constexpr const char *kDefaultLanguage = "Spanish";

    // One chip: the action's id, its label, its symbol and its tooltip.
    struct Action {
        const char *id;
        const char *label;
        const char *icon;
        const char *hint;
    };
    static const std::array<Action, 6> &actions();
    // The target languages, as shown and as sent.
    static const QStringList &languages();

    // `pageServerID` is asked at each run: a page that reaches the service meanwhile sends its id.
    AIPanelModel(ServiceClient &client, std::function<qint64()> pageServerID, QObject *parent = nullptr);

    const QString &action() const { return m_action; }
    // The typed text, the result and the error stay when the action changes.
    void setAction(const QString &id);
    const QString &prompt() const { return m_prompt; }
    void setPrompt(const QString &text);
    const QString &translateLang() const { return m_translateLang; }
    void setTranslateLang(const QString &language);
    const QString &result() const { return m_result; }
    bool isLoading() const { return m_loading; }
    const std::optional<QString> &error() const { return m_error; }
    const std::optional<qint64> &remaining() const { return m_remaining; }

    // Ask and improve take typed text.
    bool showsPrompt() const;
    QString promptPlaceholder() const;
    // Not while a request runs, nor with typed text of only spaces and tabs where text is needed;
    // line breaks count as text.
    bool canRun() const;
    // "12 left today"; none until the service has said.
    std::optional<QString> badgeText() const;

    // The body of one run: only the keys the action uses, the typed text exactly as typed, and no
    // page id for a page the service does not know yet.
    static AIReq request(const QString &action, const QString &prompt, const QString &language,
                         qint64 pageServerID);

    // Each time the panel is shown: a button's question switches to "ask"; the last answer goes.
    void applySeedPrompt(const std::optional<QString> &seed);
    // Does nothing while signed out.
    QCoro::Task<> run();
    void handleResponse(const AIResp &reply);
    void handleError(const std::exception &error);
    void copyResult(Clipboard &clipboard) const;
    void clearResult();

Q_SIGNALS:
    void changed();

private:
    ServiceClient &m_client;
    std::function<qint64()> m_pageServerID;
    QString m_action = QString::fromLatin1(kAsk);
    QString m_prompt;
    QString m_translateLang = QString::fromLatin1(kDefaultLanguage);
    QString m_result;
    bool m_loading = false;
    std::optional<QString> m_error;
    std::optional<qint64> m_remaining;
};
