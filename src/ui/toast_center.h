#pragma once

#include <QObject>
#include <QString>
#include <QTimer>
#include <QUuid>

#include <chrono>
#include <functional>
#include <optional>

// The one short-lived message of the app, with an optional action button ("Undo"). A new toast
// replaces the one on screen at once and gets its full duration; only its own timer dismisses it.
class ToastCenter : public QObject
{
    Q_OBJECT
public:
    static constexpr std::chrono::milliseconds kDuration{5000};

    struct Toast {
        QUuid id;
        QString message;
        std::optional<QString> actionLabel; // the button shows only with a label

        friend bool operator==(const Toast &a, const Toast &b) { return a.id == b.id; }
    };
    using Action = std::function<void()>;

    explicit ToastCenter(QObject *parent = nullptr);

    const std::optional<Toast> &current() const { return m_current; }
    bool hasAction() const { return bool(m_action); }
    // The time left before the current toast goes; nothing when none will be dismissed.
    std::optional<std::chrono::milliseconds> remaining() const;

    void show(const QString &message, std::optional<QString> actionLabel = std::nullopt, Action action = {},
              std::chrono::milliseconds duration = kDuration);
    // Removes the toast on screen, if any, and forgets its action.
    void dismiss();
    // The action button of the toast `id`: runs its action once, then dismisses that toast. A toast
    // the action itself showed stays.
    // By value: the caller's id often lives in the toast the action replaces.
    void runAction(QUuid id);

Q_SIGNALS:
    void currentChanged();

private:
    std::optional<Toast> m_current;
    Action m_action;
    QTimer m_dismissTimer;
};
