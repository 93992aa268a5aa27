#include "platform/desktop_url_opener.h"

#include <QDesktopServices>

bool DesktopUrlOpener::openAllowedUrl(const QUrl &url)
{
    return QDesktopServices::openUrl(url);
}
