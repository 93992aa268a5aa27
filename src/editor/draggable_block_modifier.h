#pragma once

#include <QObject>
#include <QPoint>
#include <QString>
#include <QStringList>

#include <functional>

class QMimeData;
class QPixmap;
class QWidget;

// Makes a block row a drag source carrying its block's localID as plain text, and a drop target
// that hands the first dropped text to the page. A disabled modifier leaves the row as it is: no
// drag, no drop.
class DraggableBlockModifier : public QObject
{
    Q_OBJECT
public:
    // Marks a block drag beside its plain text, so the text views inside a row let it through to
    // the row instead of inserting the id as text.
    static constexpr auto kBlockDragFormat = "application/x-penroost-block";
    static constexpr auto kPreviewSymbol = "line.3.horizontal";
    static constexpr auto kPreviewText = "Move block";

    DraggableBlockModifier(QWidget *row, bool enabled, const QString &localID,
                           std::function<void(const QString &)> onDrop);

    bool isEnabled() const { return m_enabled; }
    const QString &localID() const { return m_localID; }
    // The grip shown while the pointer is over the row (only an enabled row has one).
    void setHandle(QWidget *handle);
    QWidget *handle() const { return m_handle; }

    // The drop action: calls onDrop with the first text and reports it handled; an empty list is
    // not handled.
    bool drop(const QStringList &texts);
    // The drag's payload.
    QMimeData *makeMimeData() const;
    // The texts a drop carries: the plain text, when there is any.
    static QStringList droppedTexts(const QMimeData *mime);
    // The drag image: the symbol and "Move block" on a rounded plate.
    static QPixmap preview(const QWidget *style);

Q_SIGNALS:
    // A drag of the row's block has begun; it ends before this returns on platforms without a drag loop.
    void dragStarted(const QString &localID);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void startDrag();

    QWidget *m_row;
    QWidget *m_handle = nullptr;
    bool m_enabled;
    QString m_localID;
    std::function<void(const QString &)> m_onDrop;
    QPoint m_pressAt;
    bool m_pressed = false;
};
