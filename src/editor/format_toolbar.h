#pragma once

#include <QFrame>

#include <functional>

class QToolButton;

// The bar of formatting buttons a focused block shows above its text. It edits nothing itself: each
// button calls one of the owner's four actions. Its buttons never take the keyboard focus, so the
// text view keeps its selection while they are clicked.
class FormatToolbar : public QFrame
{
    Q_OBJECT
public:
    using WrapAction = std::function<void(const QString &prefix, const QString &suffix)>;
    using Action = std::function<void()>;

    FormatToolbar(WrapAction onWrap, Action onLink, Action onIndent, Action onOutdent,
                  QWidget *parent = nullptr);

    // The buttons in display order: bold, italic, underline, strike-through, inline code, link,
    // outdent, indent (the two dividers are not buttons).
    QList<QToolButton *> buttons() const { return m_buttons; }

    // "Bold (⌘B)" as this platform writes the shortcut: "Bold (Ctrl+B)".
    static QString tooltip(const QString &label, const QKeySequence &shortcut);

private:
    QToolButton *addButton(const QString &symbol, const QString &tip, Action action);
    void addDivider();

    WrapAction m_onWrap;
    Action m_onLink;
    Action m_onIndent;
    Action m_onOutdent;
    QList<QToolButton *> m_buttons;
};
