#pragma once

#include <QCache>
#include <QHash>
#include <QImage>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>

#include <chrono>

class APIClient;
class QNetworkReply;
class RemoteImageLoader;

// One image address as a view follows it: loading, then loaded or failed, once. Made by
// RemoteImageLoader::load and owned by the caller; deleting it tells the loader nobody waits.
class RemoteImage : public QObject
{
    Q_OBJECT
public:
    enum class State { loading, loaded, failed };

    ~RemoteImage() override;

    const QString &url() const { return m_url; }
    State state() const { return m_state; }
    // Null unless loaded.
    const QImage &image() const { return m_image; }

Q_SIGNALS:
    // Once, from loading to loaded or failed.
    void stateChanged(RemoteImage::State state);

private:
    friend class RemoteImageLoader;
    RemoteImage(RemoteImageLoader *loader, const QString &url, QObject *owner);
    void settle(const QImage &image);

    QPointer<RemoteImageLoader> m_loader;
    QString m_url;
    State m_state = State::loading;
    QImage m_image;
};

// Images from web addresses (uploaded images, page covers, bookmark previews), fetched without the
// session's token and decoded off the GUI thread. Decoded images stay in one bounded in-memory cache,
// so a view that comes back on screen shows its image without a download, and views that ask for the
// same address while it downloads share one request. The app's one ServiceClient holds the one
// loader of the process. Reads PNG, JPEG, GIF (first frame) and WebP.
class RemoteImageLoader : public QObject
{
    Q_OBJECT
public:
    static constexpr qint64 kCacheBytes = 160 * 1024 * 1024;
    // Larger images are decoded scaled down to this on their longer side: no view shows more, and
    // a huge photo would crowd everything else out of the cache.
    static constexpr int kMaxSide = 3000;
    static constexpr auto kTimeout = std::chrono::seconds(30); // without a byte moving

    explicit RemoteImageLoader(APIClient &transport, qint64 cacheBytes = kCacheBytes,
                               QObject *parent = nullptr);
    ~RemoteImageLoader() override;

    // Follows `url` for `owner`, which owns the handle. From the cache it comes already loaded;
    // anything but an http or https address comes already failed. Failures are not kept: the next
    // load of the address tries again.
    RemoteImage *load(const QString &url, QObject *owner);

    bool isCached(const QString &url) const { return m_cache.contains(url); }
    qint64 cachedBytes() const { return m_cache.totalCost(); }

private:
    friend class RemoteImage;

    struct Pending {
        QPointer<QNetworkReply> reply;
        QList<RemoteImage *> waiting;
        bool decoding = false;
    };

    void start(const QString &url);
    void received(const QString &url, QNetworkReply *reply);
    void finish(const QString &url, const QImage &image);
    void release(RemoteImage *image);

    APIClient &m_transport;
    QCache<QString, QImage> m_cache;
    QHash<QString, Pending> m_pending;
};
