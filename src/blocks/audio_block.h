#pragma once

#include "json/json_value.h"

#include <QCoroTask>
#include <QString>

#include <optional>

class BlockHost;
class BlockView;

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
// A finished voice recording: uploaded as "audio/mp4", "url" stored, then the file removed. A
// failure keeps the file and tells the user. Nothing while signed out.
void uploadRecording(BlockHost &host, const QString &filePath);
// The task behind it, through the row's client.
QCoro::Task<> uploadRecordingFile(BlockHost &host, QString filePath);

BlockView *makeView(BlockHost &host);

} // namespace AudioBlock
