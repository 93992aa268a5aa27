#pragma once

#include <QString>

// Puts plain text on the system clipboard. The app writes to the desktop's; tests record the texts.
class Clipboard
{
public:
    virtual ~Clipboard();
    // Replaces whatever the clipboard held with `text`.
    virtual void setText(const QString &text) = 0;
};
