#include "collab/inline_comment_form.h"

#include "collab/comments_panel_model.h"
#include "ui/symbol_icons.h"

#include <QKeyEvent>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextBoundaryFinder>
#include <QVBoxLayout>

InlineCommentForm::InlineCommentForm(const State &state, QWidget *parent)
    : QWidget(parent)
{
    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(10);

    auto *header = new QHBoxLayout;
    auto *symbol = new QLabel(this);
    symbol->setPixmap(SymbolIcons::pixmap(QStringLiteral("bubble.left"), 16,
                                          palette().color(QPalette::WindowText), devicePixelRatioF()));
    m_title = new QLabel(this);
    QFont headline = m_title->font();
    headline.setBold(true);
    m_title->setFont(headline);
    header->addWidget(symbol);
    header->addWidget(m_title);
    header->addStretch(1);
    column->addLayout(header);

    m_quote = new QLabel(this);
    m_quote->setTextFormat(Qt::PlainText);
    m_quote->setWordWrap(true);
    m_quote->setStyleSheet(QStringLiteral("background: rgba(255,204,0,38); border-radius: 5px; padding: 8px;"
                                          "font-style: italic; color: gray;"));
    column->addWidget(m_quote);

    m_field = new QPlainTextEdit(this);
    m_field->setPlaceholderText(QString::fromUtf8(kPlaceholder));
    m_field->setTabChangesFocus(true);
    const int line = m_field->fontMetrics().lineSpacing();
    m_field->setMinimumHeight(2 * line + 12);
    m_field->setMaximumHeight(6 * line + 12);
    m_field->installEventFilter(this);
    column->addWidget(m_field);

    auto *buttons = new QHBoxLayout;
    buttons->addStretch(1);
    m_cancel = new QPushButton(QString::fromUtf8(kCancel), this);
    m_post = new QPushButton(QString::fromUtf8(kPost), this);
    m_post->setDefault(true);
    m_post->setToolTip(QKeySequence(Qt::CTRL | Qt::Key_Return).toString(QKeySequence::NativeText));
    buttons->addWidget(m_cancel);
    buttons->addWidget(m_post);
    column->addLayout(buttons);

    m_note = new QLabel(QString::fromUtf8(kSyncNote), this);
    m_note->setStyleSheet(QStringLiteral("color: orange;"));
    column->addWidget(m_note);

    setState(state);
    connect(m_field, &QPlainTextEdit::textChanged, this, [this] {
        m_state.text = m_field->toPlainText();
        m_post->setEnabled(canPost(m_state));
        Q_EMIT textEdited(m_state.text);
    });
    connect(m_cancel, &QPushButton::clicked, this, &InlineCommentForm::cancelClicked);
    connect(m_post, &QPushButton::clicked, this, [this] {
        if (canPost(m_state))
            Q_EMIT postClicked();
    });
    setFocusProxy(m_field);
}

void InlineCommentForm::setState(const State &state)
{
    m_state = state;
    m_title->setText(QString::fromUtf8(state.selectionText ? kSelectionTitle : kBlockTitle));
    m_quote->setVisible(state.selectionText.has_value());
    m_quote->setText(QStringLiteral("\u201C%1\u201D").arg(state.selectionText.value_or(QString())));
    if (m_field->toPlainText() != state.text) {
        const QSignalBlocker quiet(m_field);
        m_field->setPlainText(state.text);
        m_field->moveCursor(QTextCursor::End);
    }
    m_post->setEnabled(canPost(state));
    m_note->setVisible(!state.blockSynced);
}

bool InlineCommentForm::canPost(const State &state)
{
    return !state.sending && state.blockSynced && !CommentsPanelModel::trimmedBody(state.text).isEmpty();
}

QString InlineCommentForm::quoteOf(const QString &selected)
{
    QTextBoundaryFinder graphemes(QTextBoundaryFinder::Grapheme, selected);
    int count = 0;
    while (graphemes.toNextBoundary() != -1) {
        if (++count == kQuoteLength)
            return selected.left(graphemes.position());
    }
    return selected;
}

bool InlineCommentForm::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_field && event->type() == QEvent::KeyPress) {
        auto *key = static_cast<QKeyEvent *>(event);
        const bool submit = (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) &&
                            key->modifiers().testFlag(Qt::ControlModifier);
        if (submit) {
            m_post->click();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}
