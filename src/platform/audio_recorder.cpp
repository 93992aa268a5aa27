#include "platform/audio_recorder.h"

#include <QDir>
#include <QUuid>

QString AudioRecorder::newRecordingPath()
{
    return QDir::temp().filePath(QStringLiteral("pn-rec-") +
                                 QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper() +
                                 QStringLiteral(".m4a"));
}
