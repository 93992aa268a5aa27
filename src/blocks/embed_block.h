#pragma once

#include "blocks/block_view.h"
#include "json/json_value.h"

#include <QPointer>
#include <QString>
#include <QUrl>

class QLineEdit;
class QPushButton;

// An embedded video or page (YouTube, Vimeo, an iframe), by its address. Nothing of it is loaded
// here: the published page renders it.
namespace EmbedBlock {

struct Content {
    QString url;

    static Content read(const JSONObject &content);
    void write(JSONObject &content) const;
};

// The host with every "www." taken out; "Embed" when the address has no host or does not parse.
QString hostLabel(const QString &url);
// The address, or "about:blank" when it does not parse.
QUrl linkTarget(const QString &url);
BlockView *makeView(BlockHost &host);

} // namespace EmbedBlock

// The entry row while there is no address (or while the pencil is on), and the card with the
// host, the address as a link, and a note on where it renders.
class EmbedBlockView : public BlockView
{
    Q_OBJECT
public:
    explicit EmbedBlockView(BlockHost &host, QWidget *parent = nullptr);

    void refresh() override;
    QWidget *entryWidget() const override;

    bool isEditing() const { return m_editing; }
    QLineEdit *entryField() const;
    QPushButton *embedButton() const;
    QPushButton *pencilButton() const;
    QWidget *card() const;
    QString shownHost() const;
    // The link's click: opens the address through the app's opener.
    void openLink();

private:
    void commit();
    void toggleEditing();
    void rebuild();

    QString m_url;
    bool m_editing = false;
    bool m_built = false;
    QPointer<QLineEdit> m_field;
    QPointer<QPushButton> m_embed;
    QPointer<QPushButton> m_pencil;
    QPointer<QWidget> m_card;
    QPointer<QLabel> m_host;
};
