#include "platform/media_audio_recorder.h"

#include "platform/diag.h"

#include <QAudioDevice>
#include <QAudioInput>
#include <QFile>
#include <QFileInfo>
#include <QMediaCaptureSession>
#include <QMediaDevices>
#include <QMediaFormat>
#include <QTimer>
#include <QUrl>

namespace {

constexpr int kSampleRate = 44100;
constexpr std::chrono::milliseconds kInputSettle{120};

} // namespace

MediaAudioRecorder::MediaAudioRecorder(QObject *parent)
    : AudioRecorder(parent)
{
}

MediaAudioRecorder::~MediaAudioRecorder()
{
    if (m_recorder) {
        m_recorder->disconnect(this);
        m_recorder->stop();
    }
}

void MediaAudioRecorder::selectBackend()
{
    // Only FFmpeg encodes AAC here; GStreamer offers no MPEG-4 audio encoder on this platform.
    if (qEnvironmentVariableIsEmpty("QT_MEDIA_BACKEND"))
        qputenv("QT_MEDIA_BACKEND", "ffmpeg");
}

bool MediaAudioRecorder::start()
{
    if (m_recorder)
        return false;
    m_outPath = newRecordingPath();
    const auto fail = [](const QString &reason) {
        diag(QString::fromLatin1(kStartFailed) + reason);
        return false;
    };
    // The FFmpeg backend crashes in record() without an input device.
    const QList<QAudioDevice> inputs = QMediaDevices::audioInputs();
    if (inputs.isEmpty())
        return fail(QStringLiteral("No audio input device is available."));
    QMediaFormat format(QMediaFormat::MPEG4);
    format.setAudioCodec(QMediaFormat::AudioCodec::AAC);
    if (!format.isSupported(QMediaFormat::Encode))
        return fail(QStringLiteral("AAC audio in MPEG-4 cannot be encoded on this system."));

    const QAudioDevice device =
        QMediaDevices::defaultAudioInput().isNull() ? inputs.first() : QMediaDevices::defaultAudioInput();
    m_session = new QMediaCaptureSession(this);
    m_input = new QAudioInput(device, this);
    m_recorder = new QMediaRecorder(this);
    m_session->setAudioInput(m_input);
    m_session->setRecorder(m_recorder);
    m_recorder->setMediaFormat(format);
    m_recorder->setAudioSampleRate(kSampleRate);
    m_recorder->setAudioChannelCount(1);
    m_recorder->setQuality(QMediaRecorder::NormalQuality);
    m_recorder->setOutputLocation(QUrl::fromLocalFile(m_outPath));
    connect(m_recorder, &QMediaRecorder::recorderStateChanged, this, &MediaAudioRecorder::onStateChanged);
    connect(m_recorder, &QMediaRecorder::errorOccurred, this, &MediaAudioRecorder::onError);

    // Qt 6.4's FFmpeg input spins for ever when the encoder asks for its frame size before the
    // input's own thread has taken the device's format: the input gets a moment to do so first.
    m_pendingRecord = true;
    QTimer::singleShot(kInputSettle, this, &MediaAudioRecorder::beginRecording);
    return true;
}

void MediaAudioRecorder::beginRecording()
{
    if (!m_recorder || !m_pendingRecord)
        return;
    m_pendingRecord = false;
    m_starting = true;
    m_recorder->record();
    m_starting = false;
    if (m_recorder->error() != QMediaRecorder::NoError ||
        m_recorder->recorderState() == QMediaRecorder::StoppedState) {
        const QString reason = m_recorder->errorString();
        tearDown();
        diag(QString::fromLatin1(kStartFailed) +
             (reason.isEmpty() ? QStringLiteral("The recording did not begin.") : reason));
        Q_EMIT stopped(QString());
    }
}

void MediaAudioRecorder::stop()
{
    if (!m_recorder || m_pendingRecord) {
        // Nothing was recorded yet.
        m_pendingRecord = false;
        tearDown();
        Q_EMIT stopped(QString());
        return;
    }
    // The file is complete only once the recorder reports it stopped.
    m_recorder->stop();
}

void MediaAudioRecorder::onStateChanged(QMediaRecorder::RecorderState state)
{
    if (state == QMediaRecorder::StoppedState && m_recorder && !m_starting)
        finish();
}

void MediaAudioRecorder::onError(QMediaRecorder::Error, const QString &message)
{
    if (m_starting)
        return; // start() reports it
    diag(QStringLiteral("recorder failed: ") + message);
    if (m_recorder && m_recorder->recorderState() == QMediaRecorder::StoppedState)
        finish();
}

void MediaAudioRecorder::finish()
{
    // The backend may add its own extension to the name it was given ("x.m4a.mp4").
    QStringList candidates{m_recorder->actualLocation().toLocalFile(), m_outPath,
                           m_outPath + QStringLiteral(".mp4")};
    const QString wanted = m_outPath;
    tearDown();
    QString written;
    for (const QString &candidate : std::as_const(candidates)) {
        if (!candidate.isEmpty() && QFileInfo(candidate).isFile() && QFileInfo(candidate).size() > 0) {
            written = candidate;
            break;
        }
    }
    if (!written.isEmpty() && written != wanted && !QFileInfo::exists(wanted) &&
        QFile::rename(written, wanted))
        written = wanted;
    Q_EMIT stopped(written);
}

void MediaAudioRecorder::tearDown()
{
    if (m_recorder)
        m_recorder->disconnect(this);
    // Deleted later: this may run inside the recorder's own signal.
    for (QObject *part : {static_cast<QObject *>(m_recorder), static_cast<QObject *>(m_input),
                          static_cast<QObject *>(m_session)}) {
        if (part)
            part->deleteLater();
    }
    m_recorder = nullptr;
    m_input = nullptr;
    m_session = nullptr;
}
