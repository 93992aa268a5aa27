#pragma once

#include "platform/clipboard.h"

// The desktop's clipboard.
class SystemClipboard : public Clipboard
{
public:
    void setText(const QString &text) override;
};
