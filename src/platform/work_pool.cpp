#include "platform/work_pool.h"

#include <QThreadPool>

QThreadPool &workPool()
{
    static QThreadPool pool;
    return pool;
}
