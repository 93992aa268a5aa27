#include "support/app_harness.h"

#include "app/local_data_owner.h"
#include "app/root_view.h"

void AppHarness::signInReturning(const QString &token, const AuthUser &user)
{
    settings.setBool(QString::fromLatin1(RootView::didSeeWelcomeKey), true);
    settings.setInteger(QString::fromLatin1(LocalDataOwner::settingsKey), user.id);
    session.signIn(token, user);
}
