#include "editor/marker_highlighter.h"

#include <QFontDatabase>
#include <QGuiApplication>
#include <QPalette>
#include <QTextBlock>
#include <QTextDocument>

MarkerHighlighter::MarkerHighlighter(QTextDocument *document)
    : QSyntaxHighlighter(document)
{
}

void MarkerHighlighter::setStrikethrough(bool on)
{
    if (m_strikethrough == on)
        return;
    m_strikethrough = on;
    rehighlight();
}

QTextCharFormat MarkerHighlighter::formatFor(MarkerSpans::Styles styles) const
{
    QTextCharFormat format;
    if (styles & MarkerSpans::HiddenMarker) {
        // Transparent, 1 point, advancing by 1% of that: present in the text, invisible and taking
        // no room, while the caret still steps over it one character at a time. A fixed negative
        // spacing overshoots such tiny glyphs and pulls the next letters over them; 0% reads as
        // "unchanged".
        format.setForeground(Qt::transparent);
        format.setFontPointSize(1);
        format.setFontLetterSpacingType(QFont::PercentageSpacing);
        format.setFontLetterSpacing(1);
        return format;
    }
    const QPalette palette = QGuiApplication::palette();
    if (styles & MarkerSpans::Code) {
        format.setFontFamilies(QStringList{QFontDatabase::systemFont(QFontDatabase::FixedFont).family()});
        format.setFontFixedPitch(true);
        QColor background = palette.color(QPalette::Text);
        // The secondary label colour (half the text colour) at alpha 0.1.
        background.setAlphaF(0.05f);
        format.setBackground(background);
    }
    if (styles & MarkerSpans::Bold)
        format.setFontWeight(QFont::Bold);
    if (styles & MarkerSpans::Italic)
        format.setFontItalic(true);
    if (styles & (MarkerSpans::Underline | MarkerSpans::Link))
        format.setFontUnderline(true);
    if ((styles & MarkerSpans::Strikethrough) || m_strikethrough)
        format.setFontStrikeOut(true);
    if (styles & MarkerSpans::Link)
        format.setForeground(palette.color(QPalette::Link));
    return format;
}

void MarkerHighlighter::highlightBlock(const QString &text)
{
    const QList<MarkerSpans::Styles> styles = MarkerSpans::styles(text);
    qsizetype runStart = 0;
    for (qsizetype i = 1; i <= styles.size(); ++i) {
        if (i < styles.size() && styles[i] == styles[runStart])
            continue;
        if (styles[runStart] || m_strikethrough)
            setFormat(int(runStart), int(i - runStart), formatFor(styles[runStart]));
        runStart = i;
    }
}
