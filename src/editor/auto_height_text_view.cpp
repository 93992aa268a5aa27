#include "editor/auto_height_text_view.h"

#include "editor/draggable_block_modifier.h"
#include "editor/raw_text.h"
#include "platform/window_keyboard.h"
#include "ui/layout_now.h"

#include <QAbstractTextDocumentLayout>
#include <QApplication>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QMimeData>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextLayout>

#include <algorithm>
#include <cmath>

AutoHeightTextView::AutoHeightTextView(QWidget *parent)
    : QTextEdit(parent)
{
    setAcceptRichText(false);
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setLineWrapMode(QTextEdit::WidgetWidth);
    document()->setDocumentMargin(0);
    setViewportMargins(0, kInset, 0, kInset);
    QPalette transparent = palette();
    transparent.setColor(QPalette::Base, Qt::transparent);
    setPalette(transparent);
    viewport()->setAutoFillBackground(false);

    connect(this, &QTextEdit::textChanged, this, &AutoHeightTextView::onTextChanged);
    connect(document(), &QTextDocument::contentsChange, this, &AutoHeightTextView::keepShapedText);
    connect(document()->documentLayout(), &QAbstractTextDocumentLayout::documentSizeChanged, this,
            &AutoHeightTextView::updateHeight);
    updateHeight();
}

// Qt drops a paragraph's shaped glyphs once it is laid out, so every repaint and every caret move
// would shape its text again.
void AutoHeightTextView::keepShapedText(int from, int, int added)
{
    const QTextDocument *doc = document();
    const QTextBlock last = doc->findBlock(from + added);
    for (QTextBlock block = doc->findBlock(from); block.isValid(); block = block.next()) {
        if (QTextLayout *layout = block.layout(); layout && !layout->cacheEnabled())
            layout->setCacheEnabled(true);
        if (block == last)
            break;
    }
}

QString AutoHeightTextView::toRawText() const
{
    return rawText(*document());
}

void AutoHeightTextView::setRawText(const QString &text)
{
    if (text == toRawText())
        return;
    const int remembered = textCursor().position();
    m_settingText = true;
    setPlainText(text);
    m_lastText = toRawText();
    m_settingText = false;
    QTextCursor cursor = textCursor();
    cursor.setPosition(std::min(remembered, int(m_lastText.size())));
    setTextCursor(cursor);
    updateHeight();
}

int AutoHeightTextView::idealHeight() const
{
    const double used = document()->documentLayout()->documentSize().height();
    return std::max(kMinimumHeight, int(std::ceil(used + 2 * kInset + 2)));
}

QSize AutoHeightTextView::sizeHint() const
{
    return {QTextEdit::sizeHint().width(), idealHeight()};
}

QSize AutoHeightTextView::minimumSizeHint() const
{
    return {0, idealHeight()};
}

bool AutoHeightTextView::canInsertFromMimeData(const QMimeData *source) const
{
    if (source->hasFormat(QString::fromLatin1(DraggableBlockModifier::kBlockDragFormat)))
        return false;
    return QTextEdit::canInsertFromMimeData(source);
}

bool AutoHeightTextView::event(QEvent *event)
{
    // Taken here, before the widget's Tab focus chain sees it.
    if (m_tabIndents && event->type() == QEvent::KeyPress) {
        const auto *key = static_cast<QKeyEvent *>(event);
        const bool plain = !(key->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier));
        if (plain && (key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab)) {
            const bool out = key->key() == Qt::Key_Backtab || (key->modifiers() & Qt::ShiftModifier);
            Q_EMIT indentRequested(out ? -1 : +1);
            event->accept();
            return true;
        }
    }
    const bool typing = event->type() == QEvent::KeyPress || event->type() == QEvent::InputMethod;
    const int heightBefore = height();
    const bool handled = QTextEdit::event(event);
    // A key that wraps or joins a line: the views around this one are laid out before the window
    // paints, which it then does once, not once for the text and again for everything that moved.
    if (typing && height() != heightBefore)
        layOutNow(parentWidget());
    return handled;
}

void AutoHeightTextView::keyPressEvent(QKeyEvent *event)
{
    // The window system sends the window its keys while the widgets count it inactive (an
    // activation dropped while a popup was closing): the key reaches this view without its focus,
    // and it would draw its caret for good beside the focused view's. The window takes the keyboard
    // first, on this view.
    if (!isActiveWindow() && !QApplication::activePopupWidget())
        WindowKeyboard::giveBack(window(), this);
    // Shift-Return would insert a line separator that no other reader of the text knows: every
    // line break in a block is a line feed.
    const bool isReturn = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if (isReturn && (event->modifiers() & Qt::ShiftModifier)) {
        QTextCursor cursor = textCursor();
        cursor.insertText(QStringLiteral("\n"));
        setTextCursor(cursor);
        return;
    }
    QTextEdit::keyPressEvent(event);
}

void AutoHeightTextView::focusInEvent(QFocusEvent *event)
{
    QTextEdit::focusInEvent(event);
    Q_EMIT focusChanged(true, event->reason());
}

void AutoHeightTextView::focusOutEvent(QFocusEvent *event)
{
    QTextEdit::focusOutEvent(event);
    Q_EMIT focusChanged(false, event->reason());
}

void AutoHeightTextView::onTextChanged()
{
    // Restyling alone also reports a change here: only a different text counts.
    const QString text = toRawText();
    if (m_settingText || text == m_lastText)
        return;
    m_lastText = text;
    Q_EMIT textEdited(text);
}

void AutoHeightTextView::updateHeight()
{
    const int height = idealHeight();
    if (minimumHeight() != height || maximumHeight() != height)
        setFixedHeight(height);
}
