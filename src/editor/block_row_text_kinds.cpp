// The row's content: the text kinds' editors, made here, and the rich kinds' views, asked of the
// kind registry. The row's chrome is in block_row.cpp.
#include "editor/block_row.h"

#include "blocks/block_kind.h"
#include "blocks/block_view.h"
#include "editor/comment_button.h"
#include "editor/editable_text.h"
#include "editor/rich_text_editor.h"
#include "ui/app_style.h"
#include "ui/editor_symbols.h"

#include <QApplication>
#include <QFontDatabase>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

constexpr auto kTextPlaceholder = "Type / for commands, or write...";
constexpr auto kHeadingPlaceholder = "Heading";
constexpr auto kListPlaceholder = "List item";
constexpr auto kTodoPlaceholder = "To-do";
constexpr auto kQuotePlaceholder = "Quote";
constexpr auto kCalloutPlaceholder = "Callout";
constexpr auto kCodePlaceholder = "Code";
constexpr auto kSummaryPlaceholder = "Toggle summary";
constexpr auto kBodyPlaceholder = "Hidden body...";
constexpr auto kBulletMarker = "\u2022";
constexpr auto kNumberMarker = "1.";
constexpr int kBodySize = 13;

QColor faded(const QWidget *widget, qreal alpha)
{
    QColor color = widget->palette().color(QPalette::WindowText);
    color.setAlphaF(alpha);
    return color;
}

} // namespace

QFont BlockRow::editorFont(int size, QFont::Weight weight, bool italic)
{
    QFont font = QApplication::font();
    font.setPixelSize(size);
    const bool kept = weight == QFont::Bold || weight == QFont::DemiBold || weight == QFont::Medium;
    font.setWeight(kept ? weight : QFont::Normal);
    font.setItalic(italic);
    return font;
}

QWidget *BlockRow::makeContent(const QString &type)
{
    const auto kind = BlockType::fromRawValue(type);
    if (!kind || *kind == BlockType::text)
        return makeRichEditor(QString::fromLatin1(kTextPlaceholder), editorFont(14, QFont::Normal), true);
    switch (kind->value()) {
    case BlockType::h1:
        return makeRichEditor(QString::fromLatin1(kHeadingPlaceholder), editorFont(28, QFont::Bold), false);
    case BlockType::h2:
        return makeRichEditor(QString::fromLatin1(kHeadingPlaceholder), editorFont(22, QFont::DemiBold),
                              false);
    case BlockType::h3:
        return makeRichEditor(QString::fromLatin1(kHeadingPlaceholder), editorFont(18, QFont::DemiBold),
                              false);
    case BlockType::bullet:
    case BlockType::number: {
        auto *marker =
            new QLabel(QString::fromUtf8(*kind == BlockType::bullet ? kBulletMarker : kNumberMarker));
        marker->setFont(editorFont(14, QFont::Normal));
        marker->setStyleSheet(QStringLiteral("color: %1;").arg(AppStyle::css(AppStyle::secondary(this))));
        return withMarker(
            padded(marker, 2),
            makeRichEditor(QString::fromLatin1(kListPlaceholder), editorFont(14, QFont::Normal), false), 6);
    }
    case BlockType::todo:
        return makeTodo();
    case BlockType::quote: {
        auto *bar = new QFrame;
        bar->setFixedWidth(3);
        bar->setStyleSheet(QStringLiteral("background: %1;").arg(AppStyle::css(faded(this, 0.55 * 0.6))));
        return withMarker(bar,
                          makeRichEditor(QString::fromLatin1(kQuotePlaceholder),
                                         editorFont(14, QFont::Normal, true), false),
                          8);
    }
    case BlockType::callout:
        return makeCallout();
    case BlockType::code:
        return makeCode();
    case BlockType::divider: {
        auto *holder = new QWidget;
        auto *layout = new QVBoxLayout(holder);
        layout->setContentsMargins(0, 6, 0, 6);
        auto *line = new QFrame(holder);
        line->setFrameShape(QFrame::HLine);
        line->setFrameShadow(QFrame::Plain);
        line->setStyleSheet(QStringLiteral("color: %1;").arg(AppStyle::css(faded(this, 0.2))));
        layout->addWidget(line);
        return holder;
    }
    case BlockType::toggle:
        return makeToggle();
    default:
        break;
    }
    // The rich kinds: their own views.
    const BlockKind *rich = BlockKind::of(*kind);
    m_kindView = rich ? rich->makeView(*m_model) : new BlockView(*m_model, *kind);
    return m_kindView;
}

RichTextEditor *BlockRow::makeRichEditor(const QString &placeholder, const QFont &font, bool withSlashMenu)
{
    auto *editor = new RichTextEditor;
    editor->setPlaceholderText(placeholder);
    editor->setFont(font);
    editor->setRawText(m_model->text());
    connect(editor, &RichTextEditor::textEdited, m_model, &BlockRowModel::commitText);
    connect(editor, &RichTextEditor::markupInserted, m_model, &BlockRowModel::commitTextNow);
    connect(editor, &RichTextEditor::backspaceAtStart, m_model, &BlockRowModel::handleBackspaceAtStart);
    connect(editor, &RichTextEditor::returnPressed, this, &BlockRow::splitAtCaret);
    connect(editor, &RichTextEditor::leavingText, m_model, &BlockRowModel::leaveText);
    editor->setTabIndents(true);
    connect(editor, &AutoHeightTextView::indentRequested, m_model, &BlockRowModel::changeIndent);
    connect(editor, &RichTextEditor::boldRequested, this,
            [this] { wrapSelection(QStringLiteral("**"), QStringLiteral("**")); });
    connect(editor, &RichTextEditor::italicRequested, this,
            [this] { wrapSelection(QStringLiteral("*"), QStringLiteral("*")); });
    connect(editor, &RichTextEditor::underlineRequested, this,
            [this] { wrapSelection(QStringLiteral("__"), QStringLiteral("__")); });
    connect(editor, &RichTextEditor::linkRequested, this, [this] { captureLinkTarget(); });
    connect(editor, &RichTextEditor::commentRequested, this, &BlockRow::beginSelectionComment);
    // A click on the comment button leaves the keyboard in this text: without a proxy, Qt hands the
    // click's focus to the page's scroll area.
    m_commentButton->setFocusProxy(editor);
    connect(editor, &AutoHeightTextView::focusChanged, this,
            [this](bool hasFocus, Qt::FocusReason reason) { onEditorFocus(hasFocus, reason, true); });
    connect(editor, &QTextEdit::cursorPositionChanged, this, &BlockRow::updateSlashMenu);
    m_richEditor = editor;
    if (withSlashMenu) {
        m_slashEnabled = true;
        editor->installEventFilter(this);
    }
    return editor;
}

EditableText *BlockRow::makePlainEditor(const QString &placeholder, const QFont &font)
{
    auto *editor = new EditableText(placeholder, font);
    editor->setRawText(m_model->text());
    connect(editor, &EditableText::textEdited, m_model, &BlockRowModel::commitText);
    editor->setTabIndents(true);
    connect(editor, &AutoHeightTextView::indentRequested, m_model, &BlockRowModel::changeIndent);
    connect(editor, &AutoHeightTextView::focusChanged, this,
            [this](bool hasFocus, Qt::FocusReason reason) { onEditorFocus(hasFocus, reason, false); });
    m_plainEditor = editor;
    return editor;
}

QWidget *BlockRow::withMarker(QWidget *marker, QWidget *editor, int spacing)
{
    auto *holder = new QWidget;
    auto *layout = new QHBoxLayout(holder);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(spacing);
    layout->addWidget(marker);
    layout->addWidget(editor, 1);
    return holder;
}

QWidget *BlockRow::makeTodo()
{
    m_todoBox = new QToolButton;
    m_todoBox->setAutoRaise(true);
    m_todoBox->setFocusPolicy(Qt::NoFocus);
    connect(m_todoBox, &QToolButton::clicked, this, [this] { m_model->toggleChecked(m_drawnChecked); });
    return withMarker(
        padded(m_todoBox, 2),
        makeRichEditor(QString::fromLatin1(kTodoPlaceholder), editorFont(14, QFont::Normal), false), 6);
}

QWidget *BlockRow::makeCallout()
{
    auto *frame = new QFrame;
    frame->setObjectName(QStringLiteral("callout"));
    QColor yellow(Qt::yellow);
    yellow.setAlpha(int(0.1 * 255));
    frame->setStyleSheet(
        QStringLiteral("#callout { background: %1; border-radius: 6px; }").arg(AppStyle::css(yellow)));
    auto *layout = new QHBoxLayout(frame);
    layout->setContentsMargins(10, 10, 10, 10);
    layout->setSpacing(8);
    m_calloutIcon = new QLabel;
    m_calloutIcon->setFont(editorFont(14, QFont::Normal));
    layout->addWidget(padded(m_calloutIcon, 2));
    layout->addWidget(
        makeRichEditor(QString::fromLatin1(kCalloutPlaceholder), editorFont(14, QFont::Normal), false), 1);
    return frame;
}

QWidget *BlockRow::makeCode()
{
    auto *frame = new QFrame;
    frame->setObjectName(QStringLiteral("code"));
    frame->setStyleSheet(QStringLiteral("#code { background: %1; border-radius: 6px; }")
                             .arg(AppStyle::css(faded(this, 0.55 * 0.08))));
    auto *layout = new QVBoxLayout(frame);
    layout->setContentsMargins(10, 10, 10, 10);
    // The hint makes fontconfig pick a monospaced face even where the theme's fixed font is not one.
    QFont mono = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    mono.setStyleHint(QFont::Monospace);
    mono.setFixedPitch(true);
    mono.setPixelSize(kBodySize);
    layout->addWidget(makePlainEditor(QString::fromLatin1(kCodePlaceholder), mono));
    return frame;
}

QWidget *BlockRow::makeToggle()
{
    auto *holder = new QWidget;
    auto *stack = new QVBoxLayout(holder);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->setSpacing(4);
    auto *label = new QHBoxLayout;
    label->setSpacing(4);
    m_toggleArrow = chromeButton(holder);
    connect(m_toggleArrow, &QToolButton::clicked, this,
            [this] { m_model->setToggleExpanded(!m_model->readToggleExpanded()); });
    label->addWidget(padded(m_toggleArrow, 2));
    label->addWidget(
        makePlainEditor(QString::fromLatin1(kSummaryPlaceholder), editorFont(kBodySize, QFont::Medium)), 1);
    stack->addLayout(label);

    m_toggleBody = new QWidget(holder);
    auto *body = new QVBoxLayout(m_toggleBody);
    body->setContentsMargins(6 + kChromeSize + 4, 0, 0, 0);
    body->setSpacing(6);
    m_toggleBodyLayout = body;
    stack->addWidget(m_toggleBody);
    return holder;
}

void BlockRow::refreshToggle()
{
    const bool expanded = m_model->readToggleExpanded();
    EditorSymbols::apply(*m_toggleArrow,
                         expanded ? QStringLiteral("chevron.down") : QStringLiteral("chevron.right"));
    m_toggleBody->setVisible(expanded);
    if (!expanded)
        return;
    const QString body = m_model->readToggleBody();
    if (body.isEmpty()) {
        if (m_bodyField) {
            // The field may be the one being typed in: it goes after this event.
            m_bodyField->hide();
            m_toggleBodyLayout->removeWidget(m_bodyField);
            m_bodyField->deleteLater();
            m_bodyField.clear();
        }
    } else {
        if (!m_bodyField) {
            m_bodyField =
                new EditableText(QString::fromLatin1(kBodyPlaceholder), editorFont(kBodySize, QFont::Normal));
            connect(m_bodyField, &EditableText::textEdited, m_model, &BlockRowModel::setToggleBody);
            m_bodyField->setTabIndents(true);
            connect(m_bodyField, &AutoHeightTextView::indentRequested, m_model, &BlockRowModel::changeIndent);
            m_toggleBodyLayout->insertWidget(0, m_bodyField);
        }
        // Each keystroke is stored at once, so the field never holds an edit the store lacks.
        m_bodyField->setRawText(body);
    }
    if (!m_children && m_childContent) {
        m_children = m_childContent();
        if (m_children)
            m_toggleBodyLayout->addWidget(m_children);
    }
}

void BlockRow::refreshContent()
{
    if (m_todoBox) {
        m_drawnChecked = m_model->readChecked();
        EditorSymbols::apply(*m_todoBox, m_drawnChecked ? QStringLiteral("checkmark.square.fill")
                                                        : QStringLiteral("square"));
        m_todoBox->setStyleSheet(
            QStringLiteral("color: %1;")
                .arg(AppStyle::css(m_drawnChecked ? AppStyle::accent(this) : AppStyle::secondary(this))));
        if (m_richEditor)
            m_richEditor->setStrikethrough(m_drawnChecked);
    }
    if (m_calloutIcon)
        m_calloutIcon->setText(m_model->readCalloutIcon());
    if (m_toggleArrow)
        refreshToggle();
    if (m_kindView)
        m_kindView->refresh();
}
