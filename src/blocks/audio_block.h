#pragma once

#include "blocks/block_host.h"
#include "blocks/block_view.h"
#include "json/json_value.h"
#include "platform/audio_recorder.h"

#include <QCoroTask>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <chrono>
#include <optional>

#include <QLabel>
#include <QMediaPlayer>
#include <QPushButton>
#include <QToolButton>

class BusyIndicator;
class LocalStore;

// An audio block or voice note: the uploaded sound's address; an attached file adds its name and
// size, a recording only its address.
namespace AudioBlock {

inline constexpr const char *kUploadFailed = "Audio upload failed \u2014 recording kept, try again.";
inline constexpr const char *kRecordingMime = "audio/mp4";

struct Content {
    QString url;
    std::optional<QString> filename;
    std::optional<qint64> size;

    static Content read(const JSONObject &content);
    // The name and size only when present.
    void write(JSONObject &content) const;
};

// Upload: any file, sent as "audio", stored as a file attachment is. Nothing while signed out.
void attach(BlockHost &host);
// A finished voice recording: uploaded as "audio/mp4", "url" stored, then the file removed once a
// save of the store holds the address. A failure (an answer that is no http(s) address included)
// keeps the file and tells the user; with the services' kept recordings it is kept with its block in
// the data folder and sent again later (also while signed out).
void uploadRecording(BlockHost &host, const QString &filePath);
// The same for a recording that ends after its row went: through the block, writer, services and
// store the row had when the recording began.
void uploadRecording(const QString &blockLocalID, const BlockHost::ContentWriter &writer,
                     const BlockServices &services, const LocalStore *store, const QString &filePath);
// The task behind it without kept recordings.
QCoro::Task<> uploadRecordingFile(BlockHost::ContentWriter writer, BlockServices services,
                                  QPointer<const LocalStore> store, QString filePath);

// The recording time as minutes and seconds: 65.3 gives "1:05".
QString formatElapsed(double seconds);

BlockView *makeView(BlockHost &host);

} // namespace AudioBlock

// Without a sound: "Upload audio" and "Record" (then "Stop m:ss" while recording, and "Uploading..."
// for a moment after). With one: play/pause and the file's name. The recording goes to the row's
// upload once its file is complete; a row that goes while recording still has it uploaded.
class AudioBlockView : public BlockView
{
    Q_OBJECT
public:
    enum class RecorderState { idle, recording, uploading };
    struct Timing {
        std::chrono::milliseconds tick{100};
        std::chrono::milliseconds uploadingShown{250};
    };
    static constexpr const char *kUploadAudio = "Upload audio";
    static constexpr const char *kRecord = "Record";
    static constexpr const char *kStop = "Stop ";
    static constexpr const char *kUploading = "Uploading...";
    static constexpr const char *kNoName = "audio";

    explicit AudioBlockView(BlockHost &host, QWidget *parent = nullptr);
    ~AudioBlockView() override;

    void refresh() override;
    void setTiming(Timing timing) { m_timing = timing; }

    void toggleRecording();
    // One tick of the recording clock; the timer calls it.
    void tick();
    void togglePlay();
    // Pauses and drops the player: the next play starts from the beginning.
    void stopPlayback();

    RecorderState recorderState() const { return m_state; }
    bool isPlaying() const { return m_isPlaying; }
    QMediaPlayer *player() const { return m_player; }
    AudioRecorder *recorder() const { return m_recorder; }

    // What the view shows now (tests).
    QPushButton *uploadButton() const { return m_uploadButton; }
    QPushButton *recordButton() const { return m_recordButton; }
    QLabel *uploadingLabel() const { return m_uploadingLabel; }
    QToolButton *playButton() const { return m_playButton; }
    QLabel *fileNameLabel() const { return m_fileName; }

protected:
    void hideEvent(QHideEvent *event) override;

private:
    QWidget *makeRecorderRow();
    QWidget *makePlayerRow();
    void updateRecorderRow();
    void updatePlayerRow();
    void setState(RecorderState state);
    void onStopped(const QString &filePath);
    AudioRecorder *ensureRecorder();
    QCoro::Task<> loadSound(QPointer<QMediaPlayer> player, QUrl url);

    Timing m_timing;
    RecorderState m_state = RecorderState::idle;
    qint64 m_elapsedTicks = 0; // whole ticks: tenths of a second add up exactly
    QTimer m_tickTimer;
    QPointer<AudioRecorder> m_recorder;
    // Taken when a recording starts, for its upload: the row may be gone when it ends.
    QString m_uploadBlock;
    BlockHost::ContentWriter m_uploadWriter;
    BlockServices m_uploadServices;
    QPointer<const LocalStore> m_uploadStore;

    QString m_shownURL;
    bool m_built = false;
    QPointer<QMediaPlayer> m_player;
    bool m_isPlaying = false;

    QPointer<QPushButton> m_uploadButton;
    QPointer<QPushButton> m_recordButton;
    QPointer<QLabel> m_uploadingLabel;
    QPointer<QLabel> m_uploadingSpinner;
    QPointer<BusyIndicator> m_busy;
    QPointer<QToolButton> m_playButton;
    QPointer<QLabel> m_fileName;
};
