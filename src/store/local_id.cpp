#include "store/local_id.h"

#include <QUuid>

QString newLocalID()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
}
