#include "app/root_view.h"

#include "api/session_store.h"
#include "app/auth_view.h"
#include "app/local_data_owner.h"
#include "app/welcome_view.h"
#include "platform/app_events.h"
#include "platform/settings.h"
#include "platform/start_marks.h"
#include "store/sync_engine.h"
#include "ui/toast_center.h"

#include <QTimer>

RootView::RootView(const AppContext &context, MainViewFactory mainView, QWidget *parent)
    : QStackedWidget(parent)
    , m_context(context)
    , m_mainView(std::move(mainView))
{
    connect(m_context.session, &SessionStore::tokenChanged, this, &RootView::updateRoute);
    connect(m_context.events, &AppEvents::authExpired, this, &RootView::handleAuthExpired);
    if (m_context.syncEngine && m_context.toasts) {
        connect(m_context.syncEngine, &SyncEngine::changeRefused, this,
                [this](const QString &title, const QString &reason) {
                    m_context.toasts->show(QString::fromUtf8(kChangeRefusedMessage).arg(title, reason));
                });
        connect(m_context.syncEngine, &SyncEngine::trashedPageChangeRefused, this,
                [this](const QString &title, const QString &reason) {
                    m_context.toasts->show(
                        QString::fromUtf8(kTrashedChangeRefusedMessage).arg(title, reason));
                });
        connect(m_context.syncEngine, &SyncEngine::createRefused, this,
                [this](const QString &title, const QString &reason, int movedSubpages) {
                    const char *message = movedSubpages > 0 ? kPageRefusedMovedMessage : kPageRefusedMessage;
                    m_context.toasts->show(QString::fromUtf8(message).arg(title, reason));
                });
        connect(m_context.syncEngine, &SyncEngine::folderCreateRefused, this,
                [this](const QString &name, const QString &reason, int movedItems) {
                    const char *message = movedItems > 0 ? kFolderRefusedMovedMessage : kFolderRefusedMessage;
                    m_context.toasts->show(QString::fromUtf8(message).arg(name, reason));
                });
    }
}

RootView::Route RootView::route(bool hasToken, bool didSeeWelcome)
{
    if (hasToken)
        return Route::main;
    return didSeeWelcome ? Route::signIn : Route::welcome;
}

bool RootView::didSeeWelcome() const
{
    return m_context.settings->boolean(QString::fromLatin1(didSeeWelcomeKey)).value_or(false);
}

void RootView::setDidSeeWelcome()
{
    m_context.settings->setBool(QString::fromLatin1(didSeeWelcomeKey), true);
    m_context.settings->sync();
    updateRoute();
}

void RootView::showEvent(QShowEvent *event)
{
    // Before the first paint, so a stored session never flashes the welcome screen.
    if (!m_restored)
        restore();
    QStackedWidget::showEvent(event);
}

void RootView::restore()
{
    m_context.session->restoreSession();
    // Settled before the main screen can read the store.
    const auto &user = m_context.session->userID();
    if (m_context.session->token() && user && m_context.store)
        LocalDataOwner(*m_context.settings, *m_context.store, m_context.syncEngine).claim(*user);
    m_restored = true;
    updateRoute();
}

void RootView::updateRoute()
{
    if (!m_restored)
        return;
    const Route next = route(m_context.session->token().has_value(), didSeeWelcome());
    if (m_route == next)
        return;
    m_route = next;
    // A cycle of an earlier session may still be waiting on the service; its replies belong to
    // that session, even when the same account signed in again. Before the screen, whose first
    // showing starts a cycle of its own.
    if (next == Route::main && m_context.syncEngine)
        m_context.syncEngine->cancelCycle();

    QWidget *old = currentWidget();
    QWidget *screen = makeScreen(next);
    setCurrentIndex(addWidget(screen));
    if (old) {
        removeWidget(old);
        // Later: a sign-in request may still be finishing inside the old screen.
        old->deleteLater();
    }
    if (next == Route::main) {
        // Queued, like a task attached to the screen: sign-in stores the whole session first.
        QTimer::singleShot(0, this, [this] {
            if (m_route == Route::main)
                startSync();
        });
    }
}

QWidget *RootView::makeScreen(Route route)
{
    switch (route) {
    case Route::welcome:
        return new WelcomeView([this] { setDidSeeWelcome(); });
    case Route::signIn:
        return new AuthView(m_context);
    case Route::main:
        break;
    }
    return m_mainView ? m_mainView(m_context) : new QWidget;
}

void RootView::startSync()
{
    if (m_context.syncEngine)
        m_context.syncEngine->start();
    startMarks::mark("sync_started");
}

void RootView::handleAuthExpired(const QString &refusedToken)
{
    const auto &token = m_context.session->token();
    if (!token || (!refusedToken.isEmpty() && refusedToken != *token))
        return;
    if (m_context.syncEngine)
        m_context.syncEngine->stopLoop();
    m_context.session->signOut();
    if (m_context.toasts)
        m_context.toasts->show(QString::fromUtf8(kSessionExpiredMessage));
}
