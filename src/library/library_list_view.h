#pragma once

#include <QListView>
#include <QModelIndex>
#include <QPoint>
#include <QString>

class LibraryRowModel;

// The sidebar's list: rows are dragged by their handle, carrying their row id as plain text, and take
// drops (a folder row, a page row, or the list root: the rest of the rows' extent and the whole empty
// space below the last row), highlighting the row under a drag, or marking the top level with a line
// under the last row.
// The drops and the page chevron's clicks leave as signals; the handle and the badges explain
// themselves in tooltips.
class LibraryListView : public QListView
{
    Q_OBJECT
public:
    // The strip kept below the last row of a full list, so the top level stays reachable.
    static constexpr int kTrailingSpace = 8;

    // What a drop at a point lands on; None only without a text payload.
    struct DropSpot {
        enum class Kind { None, Root, Folder, Page };
        Kind kind = Kind::None;
        QString localID; // the folder or page row's record
    };

    explicit LibraryListView(QWidget *parent = nullptr);

    DropSpot dropSpotAt(const QPoint &viewportPos) const;
    // A drag over the list root is showing its mark.
    bool isRootDropShown() const { return m_rootDropShown; }
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
    void paintEvent(QPaintEvent *event) override;

private:
    LibraryRowModel *rowModel() const;
    // Where the list's content ends, in viewport coordinates: the last row and the strip below it.
    int contentBottom() const;
    void highlight(const DropSpot &spot);
    void clearHighlight();

    QString m_dragRowID; // pressed on this row's handle
    QPoint m_pressPos;
    bool m_swallowRelease = false;
    bool m_rootDropShown = false;
};
