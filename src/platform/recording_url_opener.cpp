#include "platform/recording_url_opener.h"

bool RecordingUrlOpener::openAllowedUrl(const QUrl &url)
{
    m_opened.append(url);
    return true;
}
