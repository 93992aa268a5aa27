#include "platform/connectivity.h"

#include <QNetworkInformation>

Connectivity::Connectivity(QObject *parent)
    : QObject(parent)
{
    if (!QNetworkInformation::loadBackendByFeatures(QNetworkInformation::Feature::Reachability))
        return;
    QNetworkInformation *info = QNetworkInformation::instance();
    const auto online = [](QNetworkInformation::Reachability r) {
        // Any usable interface counts (the service may be on the local network); Unknown means the
        // backend cannot tell, and stalling sync on it would be worse than one failed attempt.
        return r != QNetworkInformation::Reachability::Disconnected;
    };
    m_online = online(info->reachability());
    connect(info, &QNetworkInformation::reachabilityChanged, this,
            [this, online](QNetworkInformation::Reachability r) { report(online(r)); });
}

void Connectivity::report(bool online)
{
    m_online = online;
    Q_EMIT pathUpdated(online);
}
