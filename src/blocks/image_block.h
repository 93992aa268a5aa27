#pragma once

#include "blocks/block_view.h"
#include "json/json_value.h"
#include "store/debouncer.h"

#include <QCoroTask>
#include <QPointer>
#include <QString>

#include <array>

#include "blocks/image_element.h"
#include "ui/growing_text_edit.h"

#include <QMenu>
#include <QPushButton>
#include <QToolButton>

// An image block: the address of an uploaded image, how it sits beside its caption, and the caption.
namespace ImageBlock {

inline constexpr const char *kUploadFailed = "image upload failed: ";

struct Content {
    QString url;

    static Content read(const JSONObject &content);
    // Only the address: the layout and the caption stay as stored.
    void write(JSONObject &content) const;
};

// One way to lay the image out with its caption.
struct Layout {
    const char *id;
    const char *label;
    const char *icon;
};
inline constexpr std::array<Layout, 5> kLayouts{{
    {"inline", "Inline", "rectangle"},
    {"float-left", "Float left", "rectangle.lefthalf.filled"},
    {"float-right", "Float right", "rectangle.righthalf.filled"},
    {"behind", "Behind text", "square.stack.3d.down.right"},
    {"in-front", "In front", "square.on.square"},
}};
// The row whose id is exactly `id` (case and blanks count), else "Inline".
const Layout &layoutOf(const QString &id);

QString readLayout(const JSONObject &content);  // "inline" unless a string
QString readCaption(const JSONObject &content); // "" unless a string

// The prompt and "Replace": an image file, its "url" stored; a failure is only printed. Nothing
// while signed out. The upload outlives the row.
void upload(BlockHost &host);
// The task behind it, through the row's client.
QCoro::Task<> pickAndUpload(BlockHost &host);

BlockView *makeView(BlockHost &host);

} // namespace ImageBlock

// Without an address, the "Upload image" prompt. With one, the image in its layout with the caption
// field, and while the pointer is over it the layout menu and "Replace". The caption is handed over
// once typing pauses; the layout and the image follow what is stored.
class ImageBlockView : public BlockView
{
    Q_OBJECT
public:
    static constexpr int kFloatWidth = 240;
    static constexpr const char *kCaptionPlaceholder = "Caption (optional)";
    static constexpr const char *kReplace = "Replace";

    explicit ImageBlockView(BlockHost &host, QWidget *parent = nullptr);

    void refresh() override;
    // The loader comes with the row's client.
    void servicesChanged() override { refresh(); }
    void setHovering(bool hovering);

    // What the view shows now (tests).
    QPushButton *uploadButton() const;
    ImageElement *imageElement() const { return m_image; }
    GrowingTextEdit *captionField() const { return m_caption; }
    // The arrangement shown: a layout id, "inline" for any unknown one.
    QString arrangement() const { return m_arrangement; }
    QWidget *hoverControls() const { return m_controls; }
    QToolButton *layoutButton() const { return m_layoutButton; }
    QMenu *layoutMenu() const { return m_layoutMenu; }
    QToolButton *replaceButton() const { return m_replaceButton; }

protected:
    void enterEvent(QEnterEvent *event) override;
    void leaveEvent(QEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    QPushButton *makeUploadButton();
    QWidget *makeImageBody();
    void makeControls(QWidget *parent);
    void arrange(const QString &layoutID);
    void placeControls();
    void scheduleCaption(const QString &text);
    void chooseLayout(const QString &id);

    QPointer<QPushButton> m_uploadButton;
    bool m_shown = false;
    QString m_url;
    QString m_arrangement;

    QPointer<QWidget> m_body;
    QPointer<QWidget> m_arranged;
    QPointer<ImageElement> m_image;
    QPointer<GrowingTextEdit> m_caption;
    QPointer<QWidget> m_captionHolder;
    QPointer<QWidget> m_controls;
    QPointer<QToolButton> m_layoutButton;
    QPointer<QMenu> m_layoutMenu;
    QPointer<QToolButton> m_replaceButton;
    bool m_hovering = false;
    Debouncer m_captionDebouncer;
};
