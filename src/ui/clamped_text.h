#pragma once

#include <QLabel>
#include <QString>
#include <QStringList>

class QFont;

struct ClampedLines {
    QStringList lines;
    bool elided = false;
};
// `text` wrapped at word boundaries (anywhere in a word too long for a line) into at most `maxLines`
// lines `width` wide (> 0), the last one ending in "…" when the text goes on. No line for no text.
ClampedLines clampLines(const QString &text, const QFont &font, int width, int maxLines);

// Text wrapped at any character into at most a given number of lines, the last one ending in "…"
// when the text goes on. The whole text stays available (and shows as the tooltip); the label is
// always that many lines high and takes the width its layout gives it.
class ClampedText : public QLabel
{
public:
    explicit ClampedText(int maxLines, QWidget *parent = nullptr);

    void setFullText(const QString &text);
    const QString &fullText() const { return m_full; }
    int maxLines() const { return m_maxLines; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void resizeEvent(QResizeEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void relayout();

    int m_maxLines;
    QString m_full;
};
