#pragma once

#include <QString>
#include <QWidget>

#include <functional>
#include <optional>

class QLabel;
class QPushButton;

// The placeholder of an empty list or panel: a symbol, a title, an optional explanation and an
// optional button offering the next step (shown only with both a title and an action).
class EmptyStateView : public QWidget
{
    Q_OBJECT
public:
    EmptyStateView(const QString &icon, const QString &title, std::optional<QString> subtitle = std::nullopt,
                   std::optional<QString> actionTitle = std::nullopt, std::function<void()> action = {},
                   QWidget *parent = nullptr);

    static bool showsButton(const std::optional<QString> &actionTitle, const std::function<void()> &action)
    {
        return actionTitle.has_value() && bool(action);
    }

    QLabel *titleLabel() const { return m_title; }
    QLabel *subtitleLabel() const { return m_subtitle; }   // null without a subtitle
    QPushButton *actionButton() const { return m_button; } // null without a button

protected:
    void changeEvent(QEvent *event) override;

private:
    void applyColors();

    QString m_icon;
    QLabel *m_symbol;
    QLabel *m_title;
    QLabel *m_subtitle = nullptr;
    QPushButton *m_button = nullptr;
};
