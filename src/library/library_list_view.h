#pragma once

#include <QListView>
#include <QModelIndex>
#include <QPoint>
#include <QString>

class LibraryRowModel;

// The sidebar's list: rows are dragged by their handle, carrying their row id as plain text, and take
// drops (a folder row, a page row, or the list root: the rest of the rows' extent, with a short strip
// below the last row), highlighting the row under a drag. The empty space further down takes none.
// The drops and the page chevron's clicks leave as signals; the handle and the badges explain
// themselves in tooltips.
class LibraryListView : public QListView
{
    Q_OBJECT
public:
    // The strip below the last row that still belongs to the list root.
    static constexpr int kTrailingSpace = 8;

    // What a drop at a point lands on; None below the list's content.
    struct DropSpot {
        enum class Kind { None, Root, Folder, Page };
        Kind kind = Kind::None;
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
    void updateGeometries() override;

private:
    LibraryRowModel *rowModel() const;
    // Where the list's content ends, in viewport coordinates: the last row and the strip below it.
    int contentBottom() const;
    void highlight(const DropSpot &spot);
    void clearHighlight();

    QString m_dragRowID; // pressed on this row's handle
    QPoint m_pressPos;
    bool m_swallowRelease = false;
};
