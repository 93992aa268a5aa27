#pragma once

#include <QTextEdit>

// A borderless, transparent text view for one block's text that is always as tall as its text and
// never scrolls. Its text is bound by value: `setRawText` from outside, `textEdited` for the user's
// changes only.
class AutoHeightTextView : public QTextEdit
{
    Q_OBJECT
public:
    static constexpr int kMinimumHeight = 22;
    static constexpr int kInset = 2;

    explicit AutoHeightTextView(QWidget *parent = nullptr);

    QString toRawText() const;
    // Replaces the text only when it differs; the caret keeps its offset, clamped to the new end,
    // with nothing selected. Not undoable, and not reported through `textEdited`.
    void setRawText(const QString &text);

    // Line height(s) plus the insets and 2 points, at least kMinimumHeight.
    int idealHeight() const;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

    // Tab and Shift+Tab ask for the block's indent to change instead of typing a tab.
    void setTabIndents(bool on) { m_tabIndents = on; }

Q_SIGNALS:
    void textEdited(const QString &text);
    void indentRequested(int delta);
    void focusChanged(bool hasFocus, Qt::FocusReason reason);

protected:
    // A block being dragged to another place in the page is not text to insert.
    bool canInsertFromMimeData(const QMimeData *source) const override;
    bool event(QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;

private:
    void onTextChanged();
    void keepShapedText(int from, int removed, int added);
    void updateHeight();

    QString m_lastText;
    bool m_settingText = false;
    bool m_tabIndents = false;
};
