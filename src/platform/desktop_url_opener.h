#pragma once

#include "platform/url_opener.h"

// Hands the URL to the desktop's default handler.
class DesktopUrlOpener : public UrlOpener
{
protected:
    bool openAllowedUrl(const QUrl &url) override;
};
