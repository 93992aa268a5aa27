#pragma once

#include "platform/audio_recorder.h"

#include <QByteArray>

// Records nothing (tests): start answers as told; stop writes the preset bytes to a new recording
// file and reports it a moment later, as the microphone's recorder does once its file is complete.
class PresetAudioRecorder : public AudioRecorder
{
    Q_OBJECT
public:
    using AudioRecorder::AudioRecorder;

    void setStartResult(bool started) { m_startResult = started; }
    // Empty: stopping writes no file and reports none.
    void setRecording(const QByteArray &bytes) { m_bytes = bytes; }

    bool start() override;
    void stop() override;
    bool isRecording() const override { return m_recording; }

    int starts() const { return m_starts; }
    const QString &lastFile() const { return m_lastFile; }

private:
    bool m_startResult = true;
    bool m_recording = false;
    int m_starts = 0;
    QByteArray m_bytes = QByteArray("\0\0\0\x18"
                                    "ftypM4A ",
                                    12);
    QString m_path;
    QString m_lastFile;
};
