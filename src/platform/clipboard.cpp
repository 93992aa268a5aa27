#include "platform/clipboard.h"

Clipboard::~Clipboard() = default;
