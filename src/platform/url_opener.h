#pragma once

#include <QUrl>

// Opens a web page or a mail address with the user's default handler. Addresses come from notes
// other people can write, so only http, https and mailto are ever handed on, whoever asks: a file,
// script or app scheme would run something on this machine. The app hands them to the desktop;
// tests record them.
class UrlOpener
{
public:
    virtual ~UrlOpener();

    // False when the scheme is refused or nothing could open it.
    bool openUrl(const QUrl &url);
    static bool isAllowed(const QUrl &url);

protected:
    // Only ever called with an allowed URL.
    virtual bool openAllowedUrl(const QUrl &url) = 0;
};
