#include "editor/draggable_block_modifier.h"

#include "ui/editor_symbols.h"

#include <QApplication>
#include <QDrag>
#include <QDropEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QMimeData>
#include <QMouseEvent>
#include <QPixmap>
#include <QWidget>

namespace {

constexpr int kPreviewPadding = 6;
constexpr int kPreviewRadius = 4;

} // namespace

DraggableBlockModifier::DraggableBlockModifier(QWidget *row, bool enabled, const QString &localID,
                                               std::function<void(const QString &)> onDrop)
    : QObject(row)
    , m_row(row)
    , m_enabled(enabled)
    , m_localID(localID)
    , m_onDrop(std::move(onDrop))
{
    if (!m_enabled)
        return;
    m_row->setAcceptDrops(true);
    m_row->installEventFilter(this);
}

void DraggableBlockModifier::setHandle(QWidget *handle)
{
    m_handle = handle;
    if (m_handle)
        m_handle->setVisible(m_enabled && m_row->underMouse());
}

bool DraggableBlockModifier::drop(const QStringList &texts)
{
    if (texts.isEmpty())
        return false;
    if (m_onDrop)
        m_onDrop(texts.first());
    return true;
}

QMimeData *DraggableBlockModifier::makeMimeData() const
{
    auto *mime = new QMimeData;
    mime->setText(m_localID);
    mime->setData(QString::fromLatin1(kBlockDragFormat), m_localID.toUtf8());
    return mime;
}

QStringList DraggableBlockModifier::droppedTexts(const QMimeData *mime)
{
    if (!mime || !mime->hasText())
        return {};
    return {mime->text()};
}

QPixmap DraggableBlockModifier::preview(const QWidget *style)
{
    QWidget plate;
    plate.setObjectName(QStringLiteral("movePreview"));
    plate.setAttribute(Qt::WA_StyledBackground);
    if (style)
        plate.setPalette(style->palette());
    plate.setStyleSheet(QStringLiteral("#movePreview { background: palette(window); border-radius: %1px; }")
                            .arg(kPreviewRadius));
    auto *layout = new QHBoxLayout(&plate);
    layout->setContentsMargins(kPreviewPadding, kPreviewPadding, kPreviewPadding, kPreviewPadding);
    auto *symbol = new QLabel(&plate);
    EditorSymbols::apply(*symbol, QString::fromLatin1(kPreviewSymbol), 12);
    auto *text = new QLabel(QString::fromLatin1(kPreviewText), &plate);
    QFont caption = text->font();
    caption.setPointSizeF(caption.pointSizeF() * 0.85);
    text->setFont(caption);
    layout->addWidget(symbol);
    layout->addWidget(text);
    plate.adjustSize();
    return plate.grab();
}

bool DraggableBlockModifier::eventFilter(QObject *watched, QEvent *event)
{
    if (watched != m_row)
        return QObject::eventFilter(watched, event);
    switch (event->type()) {
    case QEvent::Enter:
        if (m_handle)
            m_handle->show();
        break;
    case QEvent::Leave:
        if (m_handle)
            m_handle->hide();
        break;
    case QEvent::MouseButtonPress: {
        auto *mouse = static_cast<QMouseEvent *>(event);
        m_pressed = mouse->button() == Qt::LeftButton;
        m_pressAt = mouse->position().toPoint();
        break;
    }
    case QEvent::MouseMove: {
        auto *mouse = static_cast<QMouseEvent *>(event);
        const bool far =
            (mouse->position().toPoint() - m_pressAt).manhattanLength() >= QApplication::startDragDistance();
        if (m_pressed && (mouse->buttons() & Qt::LeftButton) && far) {
            m_pressed = false;
            startDrag();
            return true;
        }
        break;
    }
    case QEvent::MouseButtonRelease:
        m_pressed = false;
        break;
    case QEvent::DragEnter:
    case QEvent::DragMove: {
        // No highlight while a drag hovers: only the answer.
        auto *drag = static_cast<QDragMoveEvent *>(event);
        if (drag->mimeData() && drag->mimeData()->hasText())
            drag->acceptProposedAction();
        else
            drag->ignore();
        return true;
    }
    case QEvent::Drop: {
        auto *dropEvent = static_cast<QDropEvent *>(event);
        if (drop(droppedTexts(dropEvent->mimeData())))
            dropEvent->acceptProposedAction();
        else
            dropEvent->ignore();
        return true;
    }
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}

void DraggableBlockModifier::startDrag()
{
    auto *drag = new QDrag(m_row);
    drag->setMimeData(makeMimeData());
    drag->setPixmap(preview(m_row));
    Q_EMIT dragStarted(m_localID);
    drag->exec(Qt::MoveAction);
}
