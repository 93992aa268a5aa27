#pragma once

#include "json/json_value.h"

#include <QAbstractTableModel>
#include <QColor>

class DatabaseBlockModel;
struct DBColumnDTO;
struct DBRowDTO;

// The database block's table as an item model: one item per cell of the table on show, read from
// the block's model when drawn, so only the cells in sight cost anything.
class DatabaseTableModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    explicit DatabaseTableModel(DatabaseBlockModel &source, QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    // Display: what the cell shows as text ("—" for an empty select, nothing for a checkbox).
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    // Display: the column's name; decoration: its type's symbol.
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    // Text fields are editable items; checkboxes and selects act on a click.
    Qt::ItemFlags flags(const QModelIndex &index) const override;

    const DBColumnDTO &column(int column) const;
    const DBRowDTO &row(int row) const;
    const JSONValue &value(const QModelIndex &index) const;
    // The symbols in the header take this colour.
    void setHeaderIconColor(const QColor &color) { m_iconColor = color; }

private:
    void reset();

    DatabaseBlockModel &m_source;
    // What the views were last told, so a row can be announced before it counts.
    int m_rows = 0;
    int m_columns = 0;
    QColor m_iconColor;
};
