#include "platform/url_opener.h"

#include "platform/diag.h"

UrlOpener::~UrlOpener() = default;

bool UrlOpener::isAllowed(const QUrl &url)
{
    if (!url.isValid())
        return false;
    const QString scheme = url.scheme().toLower();
    // A web address without a host would be read by some handlers as a local path.
    if (scheme == QLatin1String("http") || scheme == QLatin1String("https"))
        return !url.host().isEmpty();
    return scheme == QLatin1String("mailto") && !url.path().isEmpty();
}

bool UrlOpener::openUrl(const QUrl &url)
{
    if (!isAllowed(url)) {
        // The scheme only: the rest may be private.
        diag(QStringLiteral("UrlOpener: refused an address with scheme \"%1\"").arg(url.scheme()));
        return false;
    }
    return openAllowedUrl(url);
}
