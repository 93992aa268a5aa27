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
    setText(width > 0 ? clampLines(m_full, font(), width, m_maxLines).lines.join(u'\n') : m_full);
}

ClampedLines clampLines(const QString &text, const QFont &font, int width, int maxLines)
{
    ClampedLines out;
    int used = 0;
    if (maxLines > 1) {
        QTextLayout layout(text, font);
        QTextOption option;
        option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
        layout.setTextOption(option);
        layout.beginLayout();
        while (out.lines.size() < maxLines - 1) {
            QTextLine line = layout.createLine();
            if (!line.isValid())
                break;
            line.setLineWidth(width);
            out.lines << text.mid(line.textStart(), line.textLength()).trimmed();
            used = line.textStart() + line.textLength();
        }
        layout.endLayout();
    }
    const QString rest = text.mid(used);
    if (!rest.isEmpty()) {
        const QString last = QFontMetrics(font).elidedText(rest, Qt::ElideRight, width);
        out.elided = last != rest;
        out.lines << last;
    }
    return out;
}
