#pragma once

#include <QLineEdit>
#include <QPersistentModelIndex>
#include <QPointer>
#include <QStyledItemDelegate>

// Draws the cells of a database block's table and makes the one text field the user types in.
// Checkboxes and selects are drawn only: the table acts on a click on them. A field's every change
// goes out through `textEdited` at once; the field itself is not refilled from the table while it
// is open, so what the user types ("-", "1.") stays as typed, unless `refill` puts back a value.
class DatabaseCellDelegate : public QStyledItemDelegate
{
    Q_OBJECT
public:
    // Space between a cell's edge and its text.
    static constexpr int kPadding = 8;
    static constexpr int kCheckboxPadding = 10;
    static constexpr int kCheckboxSize = 16;

    explicit DatabaseCellDelegate(QObject *parent = nullptr);

    void paint(QPainter *painter, const QStyleOptionViewItem &option,
               const QModelIndex &index) const override;
    QWidget *createEditor(QWidget *parent, const QStyleOptionViewItem &option,
                          const QModelIndex &index) const override;
    void setEditorData(QWidget *editor, const QModelIndex &index) const override;
    // Every change already went out as it was typed.
    void setModelData(QWidget *, QAbstractItemModel *, const QModelIndex &) const override {}
    void updateEditorGeometry(QWidget *editor, const QStyleOptionViewItem &option,
                              const QModelIndex &index) const override;
    // The cell's value was put back from outside (a change the service did not take): a field open
    // on it shows that value instead of what was typed.
    void refill(const QModelIndex &index);

Q_SIGNALS:
    void textEdited(const QModelIndex &index, const QString &text);

private:
    // The field open now, if any, and its cell.
    mutable QPointer<QLineEdit> m_field;
    mutable QPersistentModelIndex m_fieldCell;
};
