#pragma once

#include "editor/marker_spans.h"

#include <QSyntaxHighlighter>
#include <QTextCharFormat>

// Draws block text with its inline markers applied: formats the text between markers and gives the
// markers themselves a format that takes no visible room. The characters are never changed.
class MarkerHighlighter : public QSyntaxHighlighter
{
    Q_OBJECT
public:
    explicit MarkerHighlighter(QTextDocument *document);

    // Strikes the whole text through, under the inline styles (a checked to-do).
    void setStrikethrough(bool on);
    bool strikethrough() const { return m_strikethrough; }

    // The format one set of styles is drawn with.
    QTextCharFormat formatFor(MarkerSpans::Styles styles) const;

protected:
    void highlightBlock(const QString &text) override;

private:
    bool m_strikethrough = false;
};
