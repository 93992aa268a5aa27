#pragma once

#include "blocks/block_type.h"

#include <QPointer>
#include <QWidget>

class BlockHost;
class QLabel;
class QVBoxLayout;

// The view of a block of a rich kind inside its row. Until a kind has a view of its own it shows
// the kind's name, and its content stays exactly as stored.
class BlockView : public QWidget
{
    Q_OBJECT
public:
    BlockView(BlockHost &host, BlockType type, QWidget *parent = nullptr);

    // The stored content changed (an upload, a pull): the view shows it.
    virtual void refresh() {}
    // Where the next keystroke belongs once the kind is picked (an address or search field); null
    // when the view takes no typing, and the keyboard moves on.
    virtual QWidget *entryWidget() const { return nullptr; }
    // Gives the keyboard to that field (opening what holds it first); false when there is none.
    virtual bool takeEntry();
    // The row handed over its services (the client, the opener) after the view was made.
    virtual void servicesChanged() {}

    BlockType type() const { return m_type; }
    // The kind's name while the view shows it.
    QLabel *kindLabel() const;

protected:
    BlockHost &host() const { return m_host; }
    // Replaces what the view shows; null shows the kind's name.
    void setBody(QWidget *body);

private:
    BlockHost &m_host;
    BlockType m_type;
    QVBoxLayout *m_layout;
    QPointer<QWidget> m_body;
    QPointer<QLabel> m_kindLabel;
};
