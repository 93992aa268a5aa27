#pragma once

#include "platform/url_opener.h"

#include <QList>

// Opens nothing and remembers every URL it was given, in order (tests).
class RecordingUrlOpener : public UrlOpener
{
public:
    bool openUrl(const QUrl &url) override;

    const QList<QUrl> &opened() const { return m_opened; }

private:
    QList<QUrl> m_opened;
};
