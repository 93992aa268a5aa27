#include "platform/preset_audio_recorder.h"

#include "platform/diag.h"

#include <QFile>
#include <QTimer>

bool PresetAudioRecorder::start()
{
    ++m_starts;
    if (!m_startResult) {
        diag(QString::fromLatin1(kStartFailed) + QStringLiteral("No audio input device is available."));
        return false;
    }
    m_path = newRecordingPath();
    m_recording = true;
    return true;
}

void PresetAudioRecorder::stop()
{
    const bool wasRecording = m_recording;
    m_recording = false;
    QString file;
    if (wasRecording && !m_bytes.isEmpty()) {
        QFile out(m_path);
        if (out.open(QIODevice::WriteOnly) && out.write(m_bytes) == m_bytes.size())
            file = m_path;
    }
    m_lastFile = file;
    QTimer::singleShot(0, this, [this, file] { Q_EMIT stopped(file); });
}
