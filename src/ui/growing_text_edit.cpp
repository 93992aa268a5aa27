#include "ui/growing_text_edit.h"

#include <QAbstractTextDocumentLayout>
#include <QEvent>
#include <QFontMetrics>
#include <QScrollBar>
#include <QTextBlock>

#include <algorithm>

GrowingTextEdit::GrowingTextEdit(int minLines, int maxLines, QWidget *parent)
    : QPlainTextEdit(parent)
    , m_minLines(std::max(1, minLines))
    , m_maxLines(maxLines)
{
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(maxLines > 0 ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOff);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setTabChangesFocus(true);
    document()->setDocumentMargin(0);
    connect(this, &QPlainTextEdit::textChanged, this, [this] {
        updateHeight();
        if (!m_quiet)
            Q_EMIT textEdited(toPlainText());
    });
    updateHeight();
}

void GrowingTextEdit::setTextQuietly(const QString &text)
{
    if (toPlainText() == text)
        return;
    const int caret = textCursor().position();
    m_quiet = true;
    setPlainText(text);
    m_quiet = false;
    QTextCursor cursor = textCursor();
    cursor.setPosition(std::min(caret, document()->characterCount() - 1));
    setTextCursor(cursor);
}

int GrowingTextEdit::idealHeight() const
{
    // Wrapped lines count: the layout knows them once the field has its width.
    int lines = 0;
    for (QTextBlock block = document()->begin(); block.isValid(); block = block.next())
        lines += std::max(1, block.layout() ? block.layout()->lineCount() : 1);
    lines = std::max(lines, m_minLines);
    if (m_maxLines > 0)
        lines = std::min(lines, m_maxLines);
    const QMargins margins = contentsMargins() + viewportMargins();
    return lines * fontMetrics().lineSpacing() + margins.top() + margins.bottom() + 6;
}

QSize GrowingTextEdit::sizeHint() const
{
    return {QPlainTextEdit::sizeHint().width(), idealHeight()};
}

QSize GrowingTextEdit::minimumSizeHint() const
{
    return {0, idealHeight()};
}

void GrowingTextEdit::resizeEvent(QResizeEvent *event)
{
    QPlainTextEdit::resizeEvent(event);
    updateHeight();
}

void GrowingTextEdit::changeEvent(QEvent *event)
{
    QPlainTextEdit::changeEvent(event);
    if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange)
        updateHeight();
}

void GrowingTextEdit::updateHeight()
{
    const int height = idealHeight();
    if (height != this->height() || minimumHeight() != height)
        setFixedHeight(height);
}
