#pragma once

#include <QPersistentModelIndex>
#include <QTableView>

// A database block's table: as tall as all its rows, so the page scrolls rather than the table; as
// wide as its columns where the block has the room, else it scrolls sideways. A click (or Space,
// Return) on a checkbox or select cell asks for its action; a click on a text cell opens its field.
class DatabaseTableView : public QTableView
{
    Q_OBJECT
public:
    explicit DatabaseTableView(QWidget *parent = nullptr);

    // The height of every row: a field's text with room above and below.
    int rowHeight() const;
    // Takes the columns' widths and the rows' height from the model as it is now.
    void updateLayout();

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

    // A text cell's field is open.
    bool isEditing() const { return state() == QAbstractItemView::EditingState; }
    // The cell's rectangle in the table's own coordinates.
    QRect cellRect(const QModelIndex &index) const;

Q_SIGNALS:
    void toggleRequested(const QModelIndex &index);
    void menuRequested(const QModelIndex &index);

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    int neededHeight() const;
    // The click or key's action on a checkbox or select cell; false for a text cell.
    bool act(const QModelIndex &index);

    QPersistentModelIndex m_pressed;
};
