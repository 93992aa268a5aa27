#pragma once

#include "blocks/block_view.h"
#include "json/json_value.h"

#include <QCoroTask>
#include <QPointer>
#include <QString>

#include <QLabel>
#include <QPushButton>

// A file attachment: the uploaded file's address, name and size in bytes.
namespace FileBlock {

inline constexpr const char *kUploadFailed = "file upload failed: ";
inline constexpr const char *kAttach = "Attach a file";
inline constexpr const char *kNoName = "Attachment";

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

// The symbol for a file name, by its last extension in any case: "report.PDF" gives "doc.richtext".
QString fileIconName(const QString &filename);
// "—" for nothing, else decimal kilobytes, megabytes or gigabytes (never bytes): 999 gives "1 KB",
// 1,500,000 "1.5 MB".
QString sizeLabel(qint64 bytes);
// Opens the attached file's address in the browser; an address that does not parse opens
// "about:blank", which the opener refuses.
void open(BlockHost &host, const QString &url);

BlockView *makeView(BlockHost &host);

} // namespace FileBlock

// Without a file, "Attach a file"; with one, a row with its icon, name and size that opens it.
class FileBlockView : public BlockView
{
    Q_OBJECT
public:
    explicit FileBlockView(BlockHost &host, QWidget *parent = nullptr);

    void refresh() override;

    // What the view shows now (tests).
    QPushButton *attachButton() const { return m_attachButton; }
    QPushButton *fileRow() const { return m_fileRow; }
    QLabel *nameLabel() const { return m_name; }
    QLabel *sizeLabel() const { return m_size; }
    QString iconName() const { return m_iconName; }

private:
    QPushButton *makeAttachButton();
    QPushButton *makeFileRow();

    bool m_built = false;
    QString m_iconName;
    QPointer<QPushButton> m_attachButton;
    QPointer<QPushButton> m_fileRow;
    QPointer<QLabel> m_icon;
    QPointer<QLabel> m_name;
    QPointer<QLabel> m_size;
};
