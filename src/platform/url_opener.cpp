#include "platform/url_opener.h"

UrlOpener::~UrlOpener() = default;
