#pragma once

#include "platform/url_opener.h"

#include <QList>

// Opens nothing and remembers every URL that passed the scheme check, in order (tests).
class RecordingUrlOpener : public UrlOpener
{
public:
    const QList<QUrl> &opened() const { return m_opened; }

protected:
    bool openAllowedUrl(const QUrl &url) override;

private:
    QList<QUrl> m_opened;
};
