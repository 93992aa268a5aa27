#pragma once

#include <QString>

#include <functional>

// Diagnostics: one plain line on standard output. Never pass a token or a password.
void diag(const QString &line);

// Sends diagnostics to a function instead of stdout while it lives (tests read them back).
class DiagCapture
{
public:
    DiagCapture();
    ~DiagCapture();
    DiagCapture(const DiagCapture &) = delete;
    DiagCapture &operator=(const DiagCapture &) = delete;

    const QStringList &lines() const { return m_lines; }
    bool contains(const QString &text) const;

private:
    QStringList m_lines;
    std::function<void(const QString &)> m_previous;
};
