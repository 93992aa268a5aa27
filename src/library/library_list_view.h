#pragma once

#include <QListView>
#include <QModelIndex>
#include <QPoint>
#include <QString>

class LibraryRowModel;

// The sidebar's list: rows are dragged by their handle, carrying their row id as plain text, and take
// drops (a folder row, a page row, or the list root elsewhere), highlighting the row under a drag.
// The drops and the page chevron's clicks leave as signals; the handle and the badges explain
// themselves in tooltips.
class LibraryListView : public QListView
{
    Q_OBJECT
public:
    // What a drop at a point lands on.
    struct DropSpot {
        enum class Kind { Root, Folder, Page };
        Kind kind = Kind::Root;
        QString localID; // the folder or page row's record
    };

    explicit LibraryListView(QWidget *parent = nullptr);

    DropSpot dropSpotAt(const QPoint &viewportPos) const;
    // The tooltip of the part of a row at the point; empty where there is none.
    QString toolTipAt(const QPoint &viewportPos) const;

Q_SIGNALS:
    void droppedOnFolder(const QString &payload, const QString &folderLocalID);
    void droppedOnPage(const QString &payload, const QString &pageLocalID);
    void droppedOnRoot(const QString &payload);
    void pageChevronClicked(const QModelIndex &index);

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragMoveEvent(QDragMoveEvent *event) override;
    void dragLeaveEvent(QDragLeaveEvent *event) override;
    void dropEvent(QDropEvent *event) override;
    bool viewportEvent(QEvent *event) override;

private:
    LibraryRowModel *rowModel() const;
    void highlight(const DropSpot &spot);
    void clearHighlight();

    QString m_dragRowID; // pressed on this row's handle
    QPoint m_pressPos;
    bool m_swallowRelease = false;
};
