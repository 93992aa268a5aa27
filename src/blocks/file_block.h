#pragma once

#include "json/json_value.h"

#include <QCoroTask>
#include <QString>

class BlockHost;
class BlockView;

// A file attachment: the uploaded file's address, name and size in bytes.
namespace FileBlock {

inline constexpr const char *kUploadFailed = "file upload failed: ";

struct Content {
    QString url;
    QString filename;
    qint64 size = 0;

    static Content read(const JSONObject &content);
    void write(JSONObject &content) const;
};

// Attach: any file, its "url", "filename" and "size" stored; a failure is only printed. Nothing
// while signed out. The upload outlives the row.
void attach(BlockHost &host);
// The task behind an attach, sent as `uploadKind` ("any" for a file, "audio" for an audio block)
// through the row's client.
QCoro::Task<> pickAndAttach(BlockHost &host, QString uploadKind);

BlockView *makeView(BlockHost &host);

} // namespace FileBlock
