#include "api/one_shot_body.h"

#include <QNetworkReply>

#include <algorithm>
#include <cstring>

OneShotBody::OneShotBody(QByteArray data, QObject *parent)
    : QIODevice(parent)
    , m_data(std::move(data))
{
    open(QIODevice::ReadOnly);
}

void OneShotBody::attach(QNetworkReply *reply)
{
    m_reply = reply;
    setParent(reply);
}

bool OneShotBody::seek(qint64 pos)
{
    const bool answered = m_reply && m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).isValid();
    if (m_read && pos != QIODevice::pos() && !answered)
        return false;
    return QIODevice::seek(pos);
}

qint64 OneShotBody::readData(char *data, qint64 maxSize)
{
    const qint64 at = QIODevice::pos();
    const qint64 n = std::min(maxSize, qint64(m_data.size()) - at);
    if (n <= 0)
        return 0;
    std::memcpy(data, m_data.constData() + at, size_t(n));
    m_read = true;
    return n;
}

qint64 OneShotBody::writeData(const char *, qint64)
{
    return -1;
}
