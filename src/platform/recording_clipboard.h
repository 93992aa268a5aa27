#pragma once

#include "platform/clipboard.h"

#include <QStringList>

// Remembers every text put on it, in order, and touches no real clipboard (tests).
class RecordingClipboard : public Clipboard
{
public:
    void setText(const QString &text) override { m_texts << text; }
    const QStringList &texts() const { return m_texts; }

private:
    QStringList m_texts;
};
