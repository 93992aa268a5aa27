#pragma once

#include <QObject>
#include <QString>

// The app's in-app notifications, delivered synchronously on the GUI thread. The composition root
// makes one and hands it to every poster and listener.
class AppEvents : public QObject
{
    Q_OBJECT
public:
    explicit AppEvents(QObject *parent = nullptr)
        : QObject(parent)
    {
    }

    // "fnAuthExpired": the service refused a token; `refusedToken` names it when the poster knows
    // it, so a refusal of an older session's token can be told apart from one of the current.
    void postAuthExpired(const QString &refusedToken = QString()) { Q_EMIT authExpired(refusedToken); }
    // "fn.newPage", "fn.quickSwitch", "fn.showShortcuts": posted by the menu commands.
    void postNewPage() { Q_EMIT newPage(); }
    void postQuickSwitch() { Q_EMIT quickSwitch(); }
    void postShowShortcuts() { Q_EMIT showShortcuts(); }
    // "fn.runAIPrompt": a block hands its prompt text to the AI panel.
    void postRunAIPrompt(const QString &prompt) { Q_EMIT runAIPrompt(prompt); }
    // A saved version replaced the page's content on the service and the store has pulled it: an
    // editor showing the page gives up what it still holds and shows the stored blocks.
    void postPageRestored(qint64 pageServerID) { Q_EMIT pageRestored(pageServerID); }

Q_SIGNALS:
    void authExpired(const QString &refusedToken);
    void newPage();
    void quickSwitch();
    void showShortcuts();
    void runAIPrompt(const QString &prompt);
    void pageRestored(qint64 pageServerID);
};
