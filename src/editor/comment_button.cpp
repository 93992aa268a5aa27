#include "editor/comment_button.h"

#include "ui/editor_symbols.h"

#include <QPainter>

namespace {

constexpr auto kHelp = "Add comment to this block";
constexpr int kBadgeOffset = 4;

} // namespace

CommentButton::CommentButton(QWidget *parent)
    : QToolButton(parent)
{
    setToolTip(QString::fromLatin1(kHelp));
    setFocusPolicy(Qt::NoFocus);
    setAutoRaise(true);
    setCursor(Qt::PointingHandCursor);
}

void CommentButton::setCount(int count)
{
    if (m_count == count)
        return;
    m_count = count;
    update();
}

QString CommentButton::badgeText() const
{
    return m_count < 1 ? QString() : QString::number(m_count);
}

QSize CommentButton::sizeHint() const
{
    return {kSize + kBadgeOffset, kSize + kBadgeOffset};
}

void CommentButton::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF box(0, kBadgeOffset, kSize, kSize);
    QColor tertiary = palette().color(QPalette::WindowText);
    tertiary.setAlphaF(0.35);
    const QColor accent = palette().color(QPalette::Highlight);
    if (m_count < 1) {
        EditorSymbols::icon(QStringLiteral("bubble.left"), tertiary).paint(&painter, box.toRect());
        return;
    }
    EditorSymbols::icon(QStringLiteral("bubble.left.fill"), accent).paint(&painter, box.toRect());
    QFont font = this->font();
    font.setPixelSize(8);
    font.setBold(true);
    painter.setFont(font);
    const QString text = badgeText();
    const QFontMetricsF metrics(font);
    const qreal diameter = std::max(metrics.height(), metrics.horizontalAdvance(text)) + 4;
    const QRectF badge(box.right() + kBadgeOffset - diameter, box.top() - kBadgeOffset, diameter, diameter);
    painter.setPen(Qt::NoPen);
    painter.setBrush(accent);
    painter.drawEllipse(badge);
    painter.setPen(Qt::white);
    painter.drawText(badge, Qt::AlignCenter, text);
}
