#include "blocks/audio_block.h"

#include "api/api_client.h"

#include "api/service_client.h"
#include "blocks/block_content.h"
#include "blocks/file_block.h"
#include "platform/media_audio_recorder.h"
#include "store/kept_recordings.h"
#include "store/local_store.h"
#include "ui/app_style.h"
#include "ui/busy_indicator.h"
#include "ui/editor_symbols.h"
#include "ui/shown_text.h"
#include "ui/toast_center.h"

#include <QAudioOutput>
#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHideEvent>
#include <QLabel>
#include <QMediaPlayer>
#include <QPushButton>
#include <QToolButton>
#include <QUrl>

namespace {

const QString kURLKey = QStringLiteral("url");
const QString kFilenameKey = QStringLiteral("filename");
const QString kSizeKey = QStringLiteral("size");
constexpr auto kAudioKind = "audio";
constexpr int kPlayIconSize = 22;
constexpr int kSmallIconSize = 16;

QColor faded(QColor color, qreal alpha)
{
    color.setAlphaF(color.alphaF() * alpha);
    return color;
}

QPushButton *pillButton(const QString &objectName, const QColor &fill)
{
    auto *button = new QPushButton;
    button->setObjectName(objectName);
    button->setFlat(true);
    button->setFocusPolicy(Qt::NoFocus);
    button->setCursor(Qt::PointingHandCursor);
    button->setIconSize(QSize(kSmallIconSize, kSmallIconSize));
    button->setStyleSheet(QStringLiteral("#%1 { background: %2; border: none; border-radius: 6px; "
                                         "padding: 8px 12px; text-align: left; }")
                              .arg(objectName, AppStyle::css(fill)));
    return button;
}

// Until a save holds the address the file is the recording's only trace: a kill before it would
// leave the block with neither. A data set reset meanwhile leaves the file where it is.
void removeOnceSaved(const LocalStore *store, const QString &path)
{
    if (!store)
        return;
    const quint64 after = store->savesStarted();
    const quint64 generation = store->generation();
    auto connection = std::make_shared<QMetaObject::Connection>();
    *connection = QObject::connect(store, &LocalStore::saveWritten, store,
                                   [store, after, generation, path, connection](quint64 save) {
                                       if (save <= after)
                                           return;
                                       QObject::disconnect(*connection);
                                       if (store->generation() == generation)
                                           QFile::remove(path);
                                   });
}

} // namespace

namespace AudioBlock {

Content Content::read(const JSONObject &content)
{
    return {BlockContent::readString(content, kURLKey),
            BlockContent::readOptionalString(content, kFilenameKey),
            BlockContent::readOptionalInt(content, kSizeKey)};
}

void Content::write(JSONObject &content) const
{
    content[kURLKey] = url;
    if (filename)
        content[kFilenameKey] = *filename;
    if (size)
        content[kSizeKey] = *size;
}

void attach(BlockHost &host)
{
    if (host.isSignedIn())
        FileBlock::pickAndAttach(host, QString::fromLatin1(kAudioKind));
}

// The first try of a kept recording; its later tries are the store's.
static QCoro::Task<> uploadKept(QPointer<KeptRecordings> recordings, QPointer<ToastCenter> toasts,
                                QString blockLocalID)
{
    const bool uploaded = co_await recordings->upload(blockLocalID);
    if (!uploaded && recordings && recordings->fileOf(blockLocalID) && toasts)
        toasts->show(QString::fromUtf8(kUploadFailed));
}

void uploadRecording(BlockHost &host, const QString &filePath)
{
    uploadRecording(host.currentBlock().localID, host.laterWriter(), host.services(), host.store(), filePath);
}

void uploadRecording(const QString &blockLocalID, const BlockHost::ContentWriter &writer,
                     const BlockServices &services, const LocalStore *store, const QString &filePath)
{
    const bool signedIn = services.client && services.client->isSignedIn();
    // Out of the temporary folder at once, where the system may clear it: with its block it goes
    // to the service now or, failing that, later.
    if (services.recordings && services.recordings->keep(blockLocalID, filePath)) {
        if (signedIn)
            uploadKept(services.recordings, services.toasts, blockLocalID);
        return;
    }
    if (signedIn)
        uploadRecordingFile(writer, services, store, filePath);
}

QCoro::Task<> uploadRecordingFile(BlockHost::ContentWriter writer, BlockServices services,
                                  QPointer<const LocalStore> store, QString filePath)
{
    const QPointer<ToastCenter> toasts = services.toasts;
    const QPointer<ServiceClient> client = services.client;
    QByteArray data;
    bool readable = false;
    {
        QFile file(filePath);
        if (file.open(QIODevice::ReadOnly)) {
            data = file.readAll();
            readable = file.error() == QFileDevice::NoError;
        }
    }
    if (readable && client) {
        try {
            const QUrl url =
                co_await client->upload(data, QFileInfo(filePath).fileName(),
                                        QString::fromLatin1(kRecordingMime), QString::fromLatin1(kAudioKind));
            // The recording goes only once its address is kept: a block that is gone keeps it too.
            if (KeptRecordings::isServiceAddress(url)) {
                const bool kept = writer([&](JSONObject &content) {
                    Content{url.toString(QUrl::FullyEncoded), {}, {}}.write(content);
                });
                if (kept)
                    removeOnceSaved(store, filePath);
                co_return;
            }
        } catch (const std::exception &) {
        }
    }
    if (toasts)
        toasts->show(QString::fromUtf8(kUploadFailed));
}

QString formatElapsed(double seconds)
{
    const qint64 whole = seconds > 0 ? qint64(seconds) : 0;
    return QStringLiteral("%1:%2").arg(whole / 60).arg(whole % 60, 2, 10, QLatin1Char('0'));
}

BlockView *makeView(BlockHost &host)
{
    return new AudioBlockView(host);
}

} // namespace AudioBlock

AudioBlockView::AudioBlockView(BlockHost &host, QWidget *parent)
    : BlockView(host, BlockType::audio, parent)
{
    connect(&m_tickTimer, &QTimer::timeout, this, &AudioBlockView::tick);
    refresh();
}

AudioBlockView::~AudioBlockView()
{
    stopPlayback();
    if (!m_recorder || !m_recorder->isRecording())
        return;
    // The row goes while recording (its page closed, the block deleted): the recording still ends
    // and is uploaded, through what the row handed over when it began.
    AudioRecorder *recorder = m_recorder;
    recorder->disconnect(this);
    recorder->setParent(nullptr);
    connect(recorder, &AudioRecorder::stopped, recorder,
            [recorder, block = m_uploadBlock, writer = m_uploadWriter, services = m_uploadServices,
             store = m_uploadStore, client = QPointer<ServiceClient>(m_uploadServices.client),
             toasts = QPointer<ToastCenter>(m_uploadServices.toasts),
             recordings = QPointer<KeptRecordings>(m_uploadServices.recordings)](const QString &file) {
                // The session's services may have gone meanwhile (sign-out, quit): the file stays.
                BlockServices now = services;
                now.client = client;
                now.toasts = toasts;
                now.recordings = recordings;
                if (!file.isEmpty())
                    AudioBlock::uploadRecording(block, writer, now, store, file);
                recorder->deleteLater();
            });
    recorder->stop();
}

void AudioBlockView::refresh()
{
    const QString url = host().read<AudioBlock::Content>().url;
    if (m_built && url.isEmpty() == m_shownURL.isEmpty()) {
        if (url != m_shownURL) {
            // A new sound: the old player must not go on with the old one.
            stopPlayback();
            m_shownURL = url;
        }
        if (url.isEmpty())
            updateRecorderRow();
        else
            updatePlayerRow();
        return;
    }
    m_built = true;
    m_shownURL = url;
    stopPlayback();
    setBody(url.isEmpty() ? makeRecorderRow() : makePlayerRow());
    if (url.isEmpty())
        updateRecorderRow();
    else
        updatePlayerRow();
}

QWidget *AudioBlockView::makeRecorderRow()
{
    auto *row = new QWidget;
    auto *layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 2, 0, 2);
    layout->setSpacing(10);

    m_uploadButton = pillButton(QStringLiteral("uploadAudio"), faded(AppStyle::secondary(this), 0.08));
    m_uploadButton->setIcon(EditorSymbols::icon(QStringLiteral("waveform")));
    m_uploadButton->setText(QString::fromLatin1(kUploadAudio));
    connect(m_uploadButton, &QPushButton::clicked, this, [this] { AudioBlock::attach(host()); });
    layout->addWidget(m_uploadButton);

    const QColor red = AppStyle::destructive();
    m_recordButton = pillButton(QStringLiteral("recordAudio"), faded(red, 0.1));
    connect(m_recordButton, &QPushButton::clicked, this, &AudioBlockView::toggleRecording);
    layout->addWidget(m_recordButton);
    layout->addStretch(1);

    m_busy = new BusyIndicator(kSmallIconSize, row);
    m_busy->setColor(AppStyle::secondary(this));
    m_uploadingSpinner = new QLabel;
    connect(m_busy, &BusyIndicator::frameChanged, m_uploadingSpinner, [this] {
        if (m_uploadingSpinner && m_busy)
            m_uploadingSpinner->setPixmap(m_busy->frame(devicePixelRatioF()).pixmap(kSmallIconSize));
    });
    layout->addWidget(m_uploadingSpinner);
    m_uploadingLabel = new QLabel(QString::fromLatin1(kUploading));
    m_uploadingLabel->setFont(AppStyle::caption());
    m_uploadingLabel->setStyleSheet(
        QStringLiteral("color: %1;").arg(AppStyle::css(AppStyle::secondary(this))));
    layout->addWidget(m_uploadingLabel);
    return row;
}

void AudioBlockView::updateRecorderRow()
{
    if (!m_recordButton)
        return;
    const bool recording = m_state == RecorderState::recording;
    const bool uploading = m_state == RecorderState::uploading;
    m_uploadButton->setEnabled(m_state == RecorderState::idle);
    m_recordButton->setEnabled(!uploading);
    const QString symbol = recording ? QStringLiteral("stop.circle.fill") : QStringLiteral("mic.circle.fill");
    m_recordButton->setIcon(EditorSymbols::icon(symbol, AppStyle::destructive()));
    m_recordButton->setText(recording ? QString::fromLatin1(kStop) +
                                            AudioBlock::formatElapsed(double(m_elapsedTicks) / 10.0)
                                      : QString::fromLatin1(kRecord));
    m_uploadingLabel->setVisible(uploading);
    m_uploadingSpinner->setVisible(uploading);
    m_busy->setRunning(uploading);
}

QWidget *AudioBlockView::makePlayerRow()
{
    auto *row = new QWidget;
    row->setObjectName(QStringLiteral("audioPlayer"));
    row->setAttribute(Qt::WA_StyledBackground);
    row->setStyleSheet(QStringLiteral("#audioPlayer { background: %1; border-radius: 8px; }")
                           .arg(AppStyle::css(faded(AppStyle::secondary(this), 0.07))));
    auto *layout = new QHBoxLayout(row);
    layout->setContentsMargins(10, 10, 10, 10);
    layout->setSpacing(8);
    m_playButton = new QToolButton;
    m_playButton->setAutoRaise(true);
    m_playButton->setFocusPolicy(Qt::NoFocus);
    m_playButton->setCursor(Qt::PointingHandCursor);
    m_playButton->setIconSize(QSize(kPlayIconSize, kPlayIconSize));
    connect(m_playButton, &QToolButton::clicked, this, &AudioBlockView::togglePlay);
    layout->addWidget(m_playButton);
    m_fileName = ShownText::label();
    m_fileName->setFont(AppStyle::caption());
    m_fileName->setStyleSheet(QStringLiteral("color: %1;").arg(AppStyle::css(AppStyle::secondary(this))));
    layout->addWidget(m_fileName, 1);
    auto *wave = new QLabel;
    wave->setPixmap(EditorSymbols::icon(QStringLiteral("waveform"), AppStyle::tertiary(this))
                        .pixmap(kSmallIconSize, kSmallIconSize));
    layout->addWidget(wave);
    return row;
}

void AudioBlockView::updatePlayerRow()
{
    if (!m_playButton)
        return;
    const QString symbol =
        m_isPlaying ? QStringLiteral("pause.circle.fill") : QStringLiteral("play.circle.fill");
    m_playButton->setIcon(EditorSymbols::icon(symbol, AppStyle::accent(this)));
    m_playButton->setToolTip(m_isPlaying ? QStringLiteral("Pause") : QStringLiteral("Play"));
    const QUrl url(m_shownURL);
    const QString name = APIClient::isWebAddress(url) ? url.fileName() : QString();
    m_fileName->setText(name.isEmpty() ? QString::fromLatin1(kNoName) : name);
}

void AudioBlockView::setState(RecorderState state)
{
    m_state = state;
    updateRecorderRow();
}

AudioRecorder *AudioBlockView::ensureRecorder()
{
    if (!m_recorder) {
        const BlockServices &services = host().services();
        m_recorder = services.makeRecorder ? services.makeRecorder(this) : new MediaAudioRecorder(this);
    }
    return m_recorder;
}

void AudioBlockView::toggleRecording()
{
    if (m_state == RecorderState::uploading)
        return;
    if (m_state == RecorderState::idle) {
        AudioRecorder *recorder = ensureRecorder();
        if (!recorder || !recorder->start())
            return;
        m_uploadBlock = host().currentBlock().localID;
        m_uploadWriter = host().laterWriter();
        m_uploadServices = host().services();
        m_uploadStore = host().store();
        connect(recorder, &AudioRecorder::stopped, this, &AudioBlockView::onStopped, Qt::UniqueConnection);
        m_elapsedTicks = 0;
        m_tickTimer.start(m_timing.tick);
        setState(RecorderState::recording);
        return;
    }
    // Until the recorder has closed its file, the block waits as it does for the upload.
    m_tickTimer.stop();
    setState(RecorderState::uploading);
    m_recorder->stop();
}

void AudioBlockView::tick()
{
    if (m_state != RecorderState::recording)
        return;
    ++m_elapsedTicks;
    updateRecorderRow();
}

void AudioBlockView::onStopped(const QString &filePath)
{
    m_tickTimer.stop();
    if (filePath.isEmpty()) {
        setState(RecorderState::idle);
        return;
    }
    setState(RecorderState::uploading);
    AudioBlock::uploadRecording(m_uploadBlock, m_uploadWriter, m_uploadServices, m_uploadStore, filePath);
    // The view is not told when the upload ends: a stored address shows the player.
    QTimer::singleShot(m_timing.uploadingShown, this, [this] {
        m_elapsedTicks = 0;
        setState(RecorderState::idle);
    });
}

void AudioBlockView::togglePlay()
{
    const QUrl url(m_shownURL);
    if (!m_player && APIClient::isWebAddress(url)) {
        m_player = new QMediaPlayer(this);
        m_player->setAudioOutput(new QAudioOutput(m_player));
        // Qt 6.4's FFmpeg player opens a web address on the GUI thread and freezes the window
        // while it answers: the sound is fetched first and played from memory.
        loadSound(m_player, url);
        // At the end the button offers play again, which starts from the beginning.
        connect(m_player, &QMediaPlayer::mediaStatusChanged, this, [this](QMediaPlayer::MediaStatus status) {
            if (status == QMediaPlayer::EndOfMedia && m_isPlaying) {
                m_isPlaying = false;
                updatePlayerRow();
            }
        });
    }
    if (m_player && m_player->sourceDevice()) {
        if (m_isPlaying)
            m_player->pause();
        else
            m_player->play();
    }
    m_isPlaying = !m_isPlaying;
    updatePlayerRow();
}

QCoro::Task<> AudioBlockView::loadSound(QPointer<QMediaPlayer> player, QUrl url)
{
    const QPointer<ServiceClient> client = host().services().client;
    if (!client)
        co_return;
    QByteArray bytes;
    try {
        bytes = co_await client->fetchPublicFile(url);
    } catch (const std::exception &) {
        // Nothing to play: the button still toggles, as for an address that is not one.
        co_return;
    }
    // Dropped meanwhile (the row went, another sound came).
    if (!player)
        co_return;
    auto *buffer = new QBuffer(player);
    buffer->setData(bytes);
    buffer->open(QIODevice::ReadOnly);
    player->setSourceDevice(buffer, url);
    if (player == m_player && m_isPlaying)
        player->play();
}

void AudioBlockView::stopPlayback()
{
    if (m_player) {
        m_player->disconnect(this);
        m_player->pause();
        m_player->deleteLater();
        m_player = nullptr;
    }
    m_isPlaying = false;
    updatePlayerRow();
}

void AudioBlockView::hideEvent(QHideEvent *event)
{
    // Off screen (another page, a closed toggle): the sound stops with it.
    if (!event->spontaneous())
        stopPlayback();
    BlockView::hideEvent(event);
}
