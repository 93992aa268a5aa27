#pragma once

#include <QUuid>
#include <QWidget>

#include <optional>

class QFrame;
class QLabel;
class QPropertyAnimation;
class QPushButton;
class ToastCenter;

// Draws the toast center's current toast over the bottom edge of its host, centred: a dark capsule
// with the message (two lines at most) and the action button when the toast has a label. Hidden,
// and so taking no clicks, while there is no toast.
class ToastOverlay : public QWidget
{
    Q_OBJECT
public:
    static constexpr int kBottomSpace = 28;

    // Becomes a child of `host` and follows its size; stays in front of the host's other children.
    ToastOverlay(ToastCenter &center, QWidget *host);

    QLabel *messageLabel() const { return m_message; }
    QPushButton *actionButton() const { return m_action; }
    // The message's text as drawn: elided when it needs more than two lines.
    static QString fitToLines(const QString &text, const QFont &font, int width, int lines);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void render();
    void layoutCapsule();
    QPoint restingPos() const;
    QPoint hiddenPos() const;
    void slideIn();
    void slideOut();

    ToastCenter &m_center;
    QWidget *m_host;
    QFrame *m_capsule;
    QLabel *m_message;
    QPushButton *m_action;
    QPropertyAnimation *m_slide;
    std::optional<QUuid> m_shownId;
    QString m_fullMessage;
};
