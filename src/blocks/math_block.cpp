#include "blocks/math_block.h"

#include "blocks/block_content.h"
#include "blocks/block_host.h"
#include "ui/app_style.h"
#include "ui/editor_symbols.h"
#include "ui/growing_text_edit.h"

#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace {

const QString kLatexKey = QStringLiteral("latex");
constexpr auto kHeader = "LaTeX";
constexpr auto kRenderedOnPublish = "Rendered on publish";
constexpr int kSymbolSize = 14;

} // namespace

namespace MathBlock {

QString readLatex(const JSONObject &content)
{
    return BlockContent::readString(content, kLatexKey);
}

BlockView *makeView(BlockHost &host)
{
    return new MathBlockView(host);
}

} // namespace MathBlock

MathBlockView::MathBlockView(BlockHost &host, QWidget *parent)
    : BlockView(host, BlockType::math, parent)
    , m_debouncer(host.editDelay())
{
    auto *body = new QWidget;
    auto *column = new QVBoxLayout(body);
    column->setContentsMargins(0, 2, 0, 2);
    column->setSpacing(6);

    auto *header = new QHBoxLayout;
    header->setSpacing(6);
    const QColor secondary = AppStyle::secondary(this);
    auto *symbol = new QLabel;
    symbol->setPixmap(
        EditorSymbols::icon(QStringLiteral("function"), secondary).pixmap(kSymbolSize, kSymbolSize));
    header->addWidget(symbol);
    auto *title = new QLabel(QString::fromLatin1(kHeader));
    title->setFont(AppStyle::caption());
    title->setStyleSheet(QStringLiteral("color: %1;").arg(AppStyle::css(secondary)));
    header->addWidget(title);
    header->addStretch(1);
    auto *note = new QLabel(QString::fromLatin1(kRenderedOnPublish));
    QFont small = AppStyle::caption();
    small.setPointSizeF(small.pointSizeF() * 0.9);
    note->setFont(small);
    note->setStyleSheet(QStringLiteral("color: %1;").arg(AppStyle::css(AppStyle::tertiary(this))));
    header->addWidget(note);
    column->addLayout(header);

    m_field = new GrowingTextEdit(1, kMaxLines);
    m_field->setObjectName(QStringLiteral("latexSource"));
    QFont mono = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    mono.setPointSizeF(AppStyle::body().pointSizeF());
    m_field->setFont(mono);
    m_field->setPlaceholderText(QString::fromLatin1(MathBlock::kPlaceholder));
    m_field->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    QColor fill = secondary;
    fill.setAlphaF(fill.alphaF() * 0.08);
    m_field->setStyleSheet(QStringLiteral("#latexSource { background: %1; border: none; border-radius: 6px; "
                                          "padding: 8px; }")
                               .arg(AppStyle::css(fill)));
    connect(m_field, &GrowingTextEdit::textEdited, this, &MathBlockView::scheduleChange);
    column->addWidget(m_field);
    setBody(body);
    refresh();
}

void MathBlockView::refresh()
{
    // Typing not yet handed over is newer than anything stored and goes out over it; otherwise the
    // field holds nothing of its own and shows the stored source (filling it is not an edit).
    if (m_debouncer.isPending())
        return;
    m_field->setTextQuietly(MathBlock::readLatex(host().decodeContent()));
}

QWidget *MathBlockView::entryWidget() const
{
    return m_field;
}

void MathBlockView::scheduleChange(const QString &text)
{
    // Still written when the row has gone before the pause ends.
    m_debouncer.schedule([writer = host().laterWriter(), text] {
        writer([&text](JSONObject &content) { content[kLatexKey] = text; });
    });
}
