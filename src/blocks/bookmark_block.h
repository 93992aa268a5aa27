#pragma once

#include "blocks/block_view.h"
#include "json/json_value.h"

#include <QCoroTask>
#include <QPointer>
#include <QString>
#include <QUrl>

#include <optional>

class QLineEdit;
class QPushButton;
class RemoteImage;

// A bookmark: an address and the preview the service found for it.
namespace BookmarkBlock {

struct Content {
    QString url;
    std::optional<QString> title;
    std::optional<QString> description;
    std::optional<QString> image;

    static Content read(const JSONObject &content);
    // The preview's keys only when present.
    void write(JSONObject &content) const;
    static void dropPreview(JSONObject &content);

    bool operator==(const Content &) const = default;
};

// Stores "url" (a different address drops the old preview's keys in the same write), then fetches
// the preview. Nothing while signed out.
void resolve(BlockHost &host, const QString &url);
// The fetch through the row's client; it outlives the row.
QCoro::Task<> fetchPreview(BlockHost &host, QString url);

// The address's host as the URL gives it; the address itself when it has none or does not parse.
QString hostLabel(const QString &url);
// The address, or "about:blank" when it does not parse.
QUrl linkTarget(const QString &url);

BlockView *makeView(BlockHost &host);

} // namespace BookmarkBlock

// "Paste URL" and "Bookmark" while there is no address; then the card: title (or the address),
// description, host and the thumbnail, the whole card a link.
class BookmarkBlockView : public BlockView
{
    Q_OBJECT
public:
    explicit BookmarkBlockView(BlockHost &host, QWidget *parent = nullptr);

    void refresh() override;
    QWidget *entryWidget() const override;
    void servicesChanged() override;

    QLineEdit *entryField() const;
    QPushButton *bookmarkButton() const;
    QWidget *card() const;
    // The card's lines as shown: title, description (empty when hidden) and host.
    QStringList shownLines() const;
    QLabel *thumbnail() const;
    // The preview image is drawn in the thumbnail (not the grey frame).
    bool isThumbnailLoaded() const;
    void openLink();

private:
    void commit();
    void rebuild();
    void showThumbnail();

    BookmarkBlock::Content m_shown;
    bool m_built = false;
    QPointer<QLineEdit> m_field;
    QPointer<QPushButton> m_button;
    QPointer<QWidget> m_card;
    QPointer<QLabel> m_title;
    QPointer<QLabel> m_description;
    QPointer<QLabel> m_host;
    QPointer<QLabel> m_thumbnail;
    QPointer<RemoteImage> m_image;
};
