#pragma once

#include <QObject>

// Whether the network is reachable, over QNetworkInformation. When no backend loads, the
// network counts as always online. Tests report changes themselves with report().
class Connectivity : public QObject
{
    Q_OBJECT
public:
    explicit Connectivity(QObject *parent = nullptr);

    bool isOnline() const { return m_online; }
    // Delivers a reachability report as the platform would.
    void report(bool online);

Q_SIGNALS:
    // Every report, including repeats; listeners keep their own last state.
    void pathUpdated(bool online);

private:
    bool m_online = true;
};
