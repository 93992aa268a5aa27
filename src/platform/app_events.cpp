#include "platform/app_events.h"

AppEvents &AppEvents::shared()
{
    static AppEvents *events = new AppEvents;
    return *events;
}
