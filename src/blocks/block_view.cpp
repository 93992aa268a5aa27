#include "blocks/block_view.h"

#include "ui/app_style.h"

#include <QLabel>
#include <QVBoxLayout>

BlockView::BlockView(BlockHost &host, BlockType type, QWidget *parent)
    : QWidget(parent)
    , m_host(host)
    , m_type(type)
    , m_layout(new QVBoxLayout(this))
{
    m_layout->setContentsMargins(0, 0, 0, 0);
    setBody(nullptr);
}

bool BlockView::takeEntry()
{
    QWidget *entry = entryWidget();
    if (!entry || !entry->isEnabled())
        return false;
    entry->setFocus(Qt::OtherFocusReason);
    return true;
}

QLabel *BlockView::kindLabel() const
{
    return m_kindLabel;
}

void BlockView::setBody(QWidget *body)
{
    if (m_body) {
        m_body->hide();
        m_layout->removeWidget(m_body);
        // It may be the widget whose click brought us here.
        m_body->deleteLater();
    }
    if (!body) {
        m_kindLabel = new QLabel(m_type.label());
        m_kindLabel->setStyleSheet(
            QStringLiteral("color: %1; padding: 4px 0;").arg(AppStyle::css(AppStyle::secondary(this))));
        body = m_kindLabel;
    } else {
        m_kindLabel.clear();
    }
    m_body = body;
    m_layout->addWidget(body);
}
