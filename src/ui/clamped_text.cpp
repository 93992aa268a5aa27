#include "ui/clamped_text.h"
#include "ui/shown_text.h"

#include <QEvent>
#include <QFontMetrics>
#include <QTextLayout>

ClampedText::ClampedText(int maxLines, QWidget *parent)
    : QLabel(parent)
    , m_maxLines(std::max(1, maxLines))
{
    setTextFormat(Qt::PlainText);
    setWordWrap(false);
    setAlignment(Qt::AlignLeft | Qt::AlignTop);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void ClampedText::setFullText(const QString &text)
{
    if (text == m_full && !this->text().isEmpty())
        return;
    m_full = text;
    setToolTip(ShownText::toolTip(text));
    relayout();
}

QSize ClampedText::sizeHint() const
{
    const QMargins m = contentsMargins();
    const QFontMetrics metrics(font());
    // The width is the layout's to give: a long text must not widen its window.
    return {metrics.averageCharWidth() * 12 + m.left() + m.right(),
            metrics.lineSpacing() * m_maxLines + m.top() + m.bottom()};
}

QSize ClampedText::minimumSizeHint() const
{
    return sizeHint();
}

void ClampedText::resizeEvent(QResizeEvent *event)
{
    QLabel::resizeEvent(event);
    relayout();
}

void ClampedText::changeEvent(QEvent *event)
{
    QLabel::changeEvent(event);
    if (event->type() == QEvent::FontChange)
        relayout();
}

void ClampedText::relayout()
{
    const int width = contentsRect().width();
    if (width <= 0) {
        setText(m_full);
        return;
    }
    const QFontMetrics metrics(font());
    QTextLayout layout(m_full, font());
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    QStringList lines;
    int used = 0;
    layout.beginLayout();
    while (lines.size() < m_maxLines - 1) {
        QTextLine line = layout.createLine();
        if (!line.isValid())
            break;
        line.setLineWidth(width);
        lines << m_full.mid(line.textStart(), line.textLength()).trimmed();
        used = line.textStart() + line.textLength();
    }
    layout.endLayout();
    const QString rest = m_full.mid(used);
    if (!rest.isEmpty())
        lines << metrics.elidedText(rest, Qt::ElideRight, width);
    setText(lines.join(u'\n'));
}
