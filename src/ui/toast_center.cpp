#include "ui/toast_center.h"

ToastCenter::ToastCenter(QObject *parent)
    : QObject(parent)
{
    m_dismissTimer.setSingleShot(true);
    connect(&m_dismissTimer, &QTimer::timeout, this, &ToastCenter::dismiss);
}

std::optional<std::chrono::milliseconds> ToastCenter::remaining() const
{
    if (!m_dismissTimer.isActive())
        return std::nullopt;
    return m_dismissTimer.remainingTimeAsDuration();
}

void ToastCenter::show(const QString &message, std::optional<QString> actionLabel, Action action,
                       std::chrono::milliseconds duration)
{
    m_dismissTimer.stop();
    m_action = std::move(action);
    m_current = Toast{QUuid::createUuid(), message, std::move(actionLabel)};
    m_dismissTimer.start(duration);
    Q_EMIT currentChanged();
}

void ToastCenter::dismiss()
{
    m_dismissTimer.stop();
    m_action = nullptr;
    if (!m_current)
        return;
    m_current.reset();
    Q_EMIT currentChanged();
}

void ToastCenter::runAction(QUuid id)
{
    if (!m_current || m_current->id != id)
        return;
    // Taken out first: the action may show a toast of its own, which must keep its action.
    const Action action = std::exchange(m_action, nullptr);
    if (action)
        action();
    if (m_current && m_current->id == id)
        dismiss();
}
