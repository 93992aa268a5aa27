#include "platform/desktop_url_opener.h"

#include <QDesktopServices>

bool DesktopUrlOpener::openUrl(const QUrl &url)
{
    return QDesktopServices::openUrl(url);
}
