#pragma once

#include "platform/audio_recorder.h"

#include <QMediaRecorder>
#include <QPointer>

class QAudioInput;
class QMediaCaptureSession;

// Records from the default microphone through Qt Multimedia's FFmpeg backend, the one here that
// encodes AAC in MPEG-4.
class MediaAudioRecorder : public AudioRecorder
{
    Q_OBJECT
public:
    explicit MediaAudioRecorder(QObject *parent = nullptr);
    // A recording still running is stopped; its file stays in the temporary folder.
    ~MediaAudioRecorder() override;

    // Call before the application object exists: picks the FFmpeg backend unless the user chose one
    // in QT_MEDIA_BACKEND.
    static void selectBackend();

    bool start() override;
    void stop() override;
    bool isRecording() const override { return m_recorder != nullptr; }

private:
    void beginRecording();
    void onStateChanged(QMediaRecorder::RecorderState state);
    void onError(QMediaRecorder::Error error, const QString &message);
    // The recording is over: the file under its own name, or nothing.
    void finish();
    void tearDown();

    QMediaCaptureSession *m_session = nullptr;
    QAudioInput *m_input = nullptr;
    QMediaRecorder *m_recorder = nullptr;
    QString m_outPath;
    bool m_starting = false;
    bool m_pendingRecord = false;
};
