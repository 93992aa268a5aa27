#pragma once

#include <QByteArray>
#include <QIODevice>
#include <QPointer>

class QNetworkReply;

// A request body that cannot be read twice unless the service answered. Qt quietly sends a request
// again when its connection closes before any answer; a create the service applied would then be
// made twice, with the first copy never known to the app. Refusing the second read turns that into
// a failure the caller sees (ContentReSendError) and can look into. A redirect is an answer, so a
// redirected request still goes out again.
class OneShotBody : public QIODevice
{
    Q_OBJECT
public:
    explicit OneShotBody(QByteArray data, QObject *parent = nullptr);

    // The reply the body belongs to; the body becomes its child.
    void attach(QNetworkReply *reply);

    bool isSequential() const override { return false; }
    qint64 size() const override { return m_data.size(); }
    bool seek(qint64 pos) override;

protected:
    qint64 readData(char *data, qint64 maxSize) override;
    qint64 writeData(const char *data, qint64 maxSize) override;

private:
    QByteArray m_data;
    QPointer<QNetworkReply> m_reply;
    bool m_read = false;
};
