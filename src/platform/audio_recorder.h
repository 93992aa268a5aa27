#pragma once

#include <QObject>
#include <QString>

// Records one voice note at a time into a new file in the temporary folder ("pn-rec-" + an upper-case
// UUID + ".m4a"): AAC in MPEG-4, 44,100 Hz, mono, normal quality. The app records from the
// microphone; tests script one.
class AudioRecorder : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;

    // Starts a new recording; false when it cannot start, with "recorder start failed: " and the
    // reason on standard output.
    virtual bool start() = 0;
    // Ends the recording; `stopped` follows once its file is complete.
    virtual void stop() = 0;
    virtual bool isRecording() const = 0;

    // A new, unused recording file name in the temporary folder.
    static QString newRecordingPath();
    static constexpr const char *kStartFailed = "recorder start failed: ";

Q_SIGNALS:
    // The recording's complete file, or empty when none was written. Also sent when recording ends
    // on its own (the device went away).
    void stopped(const QString &filePath);
};
