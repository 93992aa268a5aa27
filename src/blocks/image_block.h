#pragma once

#include "blocks/block_view.h"
#include "json/json_value.h"

#include <QCoroTask>
#include <QPointer>
#include <QString>

class QPushButton;

// An image block: the address of an uploaded image. Its other keys (layout, caption) stay as
// stored.
namespace ImageBlock {

inline constexpr const char *kUploadFailed = "image upload failed: ";

struct Content {
    QString url;

    static Content read(const JSONObject &content);
    void write(JSONObject &content) const;
};

// The prompt and "Replace": an image file, its "url" stored; a failure is only printed. Nothing
// while signed out. The upload outlives the row.
void upload(BlockHost &host);
// The task behind it, through the row's client.
QCoro::Task<> pickAndUpload(BlockHost &host);

BlockView *makeView(BlockHost &host);

} // namespace ImageBlock

// Without an address, the "Upload image" prompt; with one, the kind's name until the image view
// itself exists.
class ImageBlockView : public BlockView
{
    Q_OBJECT
public:
    explicit ImageBlockView(BlockHost &host, QWidget *parent = nullptr);

    void refresh() override;
    QPushButton *uploadButton() const;

private:
    QPushButton *makeUploadButton();

    QPointer<QPushButton> m_uploadButton;
    bool m_shown = false;
};
