#pragma once

#include <QPlainTextEdit>

// A borderless multi-line field as tall as its text, between `minLines` and `maxLines` lines
// (0: no limit); beyond the limit it scrolls. `textEdited` reports the user's changes only.
class GrowingTextEdit : public QPlainTextEdit
{
    Q_OBJECT
public:
    explicit GrowingTextEdit(int minLines = 1, int maxLines = 0, QWidget *parent = nullptr);

    // Replaces the text without reporting it as an edit; the caret keeps its offset, clamped to the
    // new end, with nothing selected.
    void setTextQuietly(const QString &text);
    int idealHeight() const;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

Q_SIGNALS:
    void textEdited(const QString &text);

protected:
    void resizeEvent(QResizeEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void updateHeight();

    int m_minLines;
    int m_maxLines;
    bool m_quiet = false;
};
