#include "ui/fitted_text.h"
#include "ui/clamped_text.h"
#include "ui/shown_text.h"

#include <QEvent>
#include <QFontMetrics>
#include <QPainter>

FittedText::FittedText(int lines, QWidget *parent)
    : QWidget(parent)
    , m_lines(std::max(1, lines))
{
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void FittedText::setText(const QString &text)
{
    if (text == m_text)
        return;
    m_text = text;
    setAccessibleName(text);
    fit();
    // No geometry update: the size does not follow the text.
    update();
}

void FittedText::setAlignment(Qt::Alignment alignment)
{
    m_alignment = alignment & Qt::AlignHorizontal_Mask;
    update();
}

QSize FittedText::sizeHint() const
{
    const QFontMetrics metrics(font());
    const QMargins m = contentsMargins();
    return {metrics.averageCharWidth() * 8 + m.left() + m.right(),
            metrics.lineSpacing() * m_lines + m.top() + m.bottom()};
}

QSize FittedText::minimumSizeHint() const
{
    return {0, sizeHint().height()};
}

void FittedText::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setPen(palette().color(foregroundRole()));
    const QRect box = contentsRect();
    const QFontMetrics metrics(font());
    int top = box.top();
    for (const QString &line : std::as_const(m_shown)) {
        // drawText with a plain string never reads markup or mnemonics.
        painter.drawText(QRect(box.left(), top, box.width(), metrics.lineSpacing()),
                         int(m_alignment | Qt::AlignVCenter | Qt::TextSingleLine), line);
        top += metrics.lineSpacing();
    }
}

void FittedText::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    fit();
}

void FittedText::changeEvent(QEvent *event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::FontChange) {
        fit();
        updateGeometry();
    }
}

void FittedText::fit()
{
    const int width = contentsRect().width();
    if (width > 0) {
        ClampedLines clamped = clampLines(m_text, font(), width, m_lines);
        m_shown = std::move(clamped.lines);
        m_elided = clamped.elided;
    } else {
        m_shown = {m_text};
        m_elided = false;
    }
    if (m_shown.isEmpty())
        m_shown << QString();
    const QString tip = m_elided ? ShownText::toolTip(m_text) : QString();
    if (toolTip() != tip)
        setToolTip(tip);
}
