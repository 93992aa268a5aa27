#pragma once

#include <QObject>
#include <QString>

#include <optional>

// The focus value of one open page: the `localID` of the block whose row has the keyboard focus.
// The page owns it; its rows read and write it.
class BlockFocus : public QObject
{
    Q_OBJECT
public:
    explicit BlockFocus(QObject *parent = nullptr);

    const std::optional<QString> &focusedBlock() const { return m_focusedBlock; }
    void setFocusedBlock(const std::optional<QString> &localID);
    bool isFocused(const QString &localID) const { return m_focusedBlock == localID; }

Q_SIGNALS:
    void focusedBlockChanged();

private:
    std::optional<QString> m_focusedBlock;
};
