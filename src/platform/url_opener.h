#pragma once

#include <QUrl>

// Opens a web page in the user's default browser. The app hands it to the desktop; tests record it.
class UrlOpener
{
public:
    virtual ~UrlOpener();

    // False when nothing could open it.
    virtual bool openUrl(const QUrl &url) = 0;
};
