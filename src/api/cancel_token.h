#pragma once

#include <QObject>

// Lets an owner abort the requests it started: every call made with the token fails as a
// cancelled network error once cancel() is called. reset() makes it usable again.
class CancelToken : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;

    bool isCancelled() const { return m_cancelled; }
    void cancel()
    {
        if (m_cancelled)
            return;
        m_cancelled = true;
        Q_EMIT cancelled();
    }
    void reset() { m_cancelled = false; }

Q_SIGNALS:
    void cancelled();

private:
    bool m_cancelled = false;
};
