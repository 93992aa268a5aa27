#include "platform/background_thread.h"

#ifdef __linux__
#include <sched.h>
#endif

namespace {
thread_local bool marked = false;
}

void becomeBackgroundThread()
{
    if (marked)
        return;
    marked = true;
#ifdef __linux__
    // A batch thread is never preferred on wake-up over the one running; its share is unchanged.
    sched_param param{};
    param.sched_priority = 0;
    sched_setscheduler(0, SCHED_BATCH, &param);
#endif
}

bool isBackgroundThread()
{
#ifdef __linux__
    return sched_getscheduler(0) == SCHED_BATCH;
#else
    return marked;
#endif
}
