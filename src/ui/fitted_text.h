#pragma once

#include <QString>
#include <QStringList>
#include <QWidget>

// Plain text in a box of a fixed number of lines: wrapped at word boundaries (anywhere in a word too
// long for a line), the last line ending in "…" when the text goes on, and then the whole text as the
// tooltip. Its size never depends on its text, so a new text repaints this box alone: nothing around
// it is laid out again. The width is the layout's to give.
class FittedText : public QWidget
{
    Q_OBJECT
public:
    explicit FittedText(int lines, QWidget *parent = nullptr);

    void setText(const QString &text);
    const QString &text() const { return m_text; }
    void setAlignment(Qt::Alignment alignment);
    int lineCount() const { return m_lines; }
    // The lines drawn at the present width.
    const QStringList &shownLines() const { return m_shown; }
    bool isElided() const { return m_elided; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void fit();

    int m_lines;
    Qt::Alignment m_alignment = Qt::AlignLeft;
    QString m_text;
    QStringList m_shown;
    bool m_elided = false;
};
