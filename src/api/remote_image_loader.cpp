#include "api/remote_image_loader.h"

#include "api/api_client.h"
#include "platform/work_pool.h"

#include <QBuffer>
#include <QFutureWatcher>
#include <QImageReader>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPromise>
#include <QThreadPool>
#include <QUrl>

#include <memory>

namespace {

QImage decode(const QByteArray &bytes)
{
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    // Photos from phones are stored sideways with an orientation tag.
    reader.setAutoTransform(true);
    const QSize size = reader.size();
    if (size.isValid() && std::max(size.width(), size.height()) > RemoteImageLoader::kMaxSide)
        reader.setScaledSize(
            size.scaled(RemoteImageLoader::kMaxSide, RemoteImageLoader::kMaxSide, Qt::KeepAspectRatio));
    QImage image;
    return reader.read(&image) ? image : QImage();
}

} // namespace

RemoteImage::RemoteImage(RemoteImageLoader *loader, const QString &url, QObject *owner)
    : QObject(owner)
    , m_loader(loader)
    , m_url(url)
{
}

RemoteImage::~RemoteImage()
{
    if (m_state == State::loading && m_loader)
        m_loader->release(this);
}

void RemoteImage::settle(const QImage &image)
{
    m_image = image;
    m_state = image.isNull() ? State::failed : State::loaded;
    Q_EMIT stateChanged(m_state);
}

RemoteImageLoader::RemoteImageLoader(APIClient &transport, qint64 cacheBytes, QObject *parent)
    : QObject(parent)
    , m_transport(transport)
    , m_cache(cacheBytes)
{
}

RemoteImageLoader::~RemoteImageLoader()
{
    // The replies go with the loader; none may call back into it on the way.
    for (const Pending &pending : std::as_const(m_pending)) {
        if (pending.reply)
            pending.reply->disconnect(this);
    }
}

RemoteImage *RemoteImageLoader::load(const QString &url, QObject *owner)
{
    auto *image = new RemoteImage(this, url, owner);
    if (!APIClient::isWebAddress(QUrl(url))) {
        // Block content comes from the service and other devices: no local files, no other schemes.
        image->m_state = RemoteImage::State::failed;
        return image;
    }
    if (const QImage *cached = m_cache.object(url)) {
        image->m_state = RemoteImage::State::loaded;
        image->m_image = *cached;
        return image;
    }
    const bool started = m_pending.contains(url);
    m_pending[url].waiting.append(image);
    if (!started)
        start(url);
    return image;
}

void RemoteImageLoader::start(const QString &url)
{
    QNetworkRequest request{QUrl(url)};
    // Images are public addresses: the session's token never goes with them, wherever they point.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    request.setHeader(QNetworkRequest::UserAgentHeader, QByteArray(APIClient::kUserAgent));
    request.setTransferTimeout(int(std::chrono::milliseconds(kTimeout).count()));
    QNetworkReply *reply = m_transport.session().get(request);
    APIClient::limitReplySize(reply, m_transport.maxReplyBytes());
    reply->setParent(this);
    m_pending[url].reply = reply;
    connect(reply, &QNetworkReply::finished, this, [this, url, reply] { received(url, reply); });
}

void RemoteImageLoader::received(const QString &url, QNetworkReply *reply)
{
    reply->deleteLater();
    const auto it = m_pending.find(url);
    // Abandoned by every view, or replaced by a newer request for the same address.
    if (it == m_pending.end() || it->reply != reply)
        return;
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (reply->error() != QNetworkReply::NoError || status < 200 || status > 299) {
        finish(url, QImage());
        return;
    }
    const QByteArray bytes = reply->readAll();
    it->reply.clear();
    it->decoding = true;

    auto *watcher = new QFutureWatcher<QImage>(this);
    connect(watcher, &QFutureWatcherBase::finished, this, [this, watcher, url] {
        watcher->deleteLater();
        finish(url, watcher->future().resultCount() > 0 ? watcher->result() : QImage());
    });
    auto promise = std::make_shared<QPromise<QImage>>();
    watcher->setFuture(promise->future());
    promise->start();
    startWork([promise, bytes] {
        promise->addResult(decode(bytes));
        promise->finish();
    });
}

void RemoteImageLoader::finish(const QString &url, const QImage &image)
{
    const auto it = m_pending.find(url);
    if (it == m_pending.end())
        return;
    QList<QPointer<RemoteImage>> waiting;
    for (RemoteImage *view : std::as_const(it->waiting))
        waiting.append(view);
    m_pending.erase(it);
    // An image larger than the whole cache is shown but not kept.
    if (!image.isNull())
        m_cache.insert(url, new QImage(image), std::max<qint64>(1, image.sizeInBytes()));
    for (const QPointer<RemoteImage> &view : std::as_const(waiting)) {
        // A view may drop another's handle when it hears its own.
        if (view)
            view->settle(image);
    }
}

void RemoteImageLoader::release(RemoteImage *image)
{
    const auto it = m_pending.find(image->url());
    if (it == m_pending.end())
        return;
    it->waiting.removeAll(image);
    // A finished download is decoded and kept all the same: the view may well come back.
    if (!it->waiting.isEmpty() || it->decoding)
        return;
    const QPointer<QNetworkReply> reply = it->reply;
    m_pending.erase(it);
    if (reply)
        reply->abort();
}
