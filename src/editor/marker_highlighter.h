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

    // An empty pair of markers just put in around the caret, hidden as the markers of a pair with
    // text are while it holds exactly `pair` at `position` (in the document); empty for none.
    void setHeldPair(int position, const QString &pair);
    int heldAt() const { return m_heldAt; }
    const QString &heldPair() const { return m_heldPair; }

    // The format one set of styles is drawn with.
    QTextCharFormat formatFor(MarkerSpans::Styles styles) const;

protected:
    void highlightBlock(const QString &text) override;

private:
    bool m_strikethrough = false;
    int m_heldAt = -1;
    QString m_heldPair;
};
