#include "editor/block_focus.h"

BlockFocus::BlockFocus(QObject *parent)
    : QObject(parent)
{
}

void BlockFocus::setFocusedBlock(const std::optional<QString> &localID)
{
    if (m_focusedBlock == localID)
        return;
    m_focusedBlock = localID;
    Q_EMIT focusedBlockChanged();
}
