#include "blocks/database_table_model.h"

#include "blocks/database_block.h"
#include "blocks/database_block_model.h"
#include "ui/editor_symbols.h"

DatabaseTableModel::DatabaseTableModel(DatabaseBlockModel &source, QObject *parent)
    : QAbstractTableModel(parent)
    , m_source(source)
{
    connect(&source, &DatabaseBlockModel::tableReset, this, &DatabaseTableModel::reset);
    connect(&source, &DatabaseBlockModel::valuesChanged, this, [this] {
        if (m_rows > 0 && m_columns > 0)
            Q_EMIT dataChanged(index(0, 0), index(m_rows - 1, m_columns - 1));
    });
    connect(&source, &DatabaseBlockModel::cellChanged, this, [this](int row, int column) {
        if (row >= 0 && row < m_rows && column >= 0 && column < m_columns)
            Q_EMIT dataChanged(index(row, column), index(row, column));
    });
    connect(&source, &DatabaseBlockModel::rowAppended, this, [this] {
        beginInsertRows({}, m_rows, m_rows);
        m_rows = int(m_source.database()->rows.size());
        endInsertRows();
    });
    reset();
}

void DatabaseTableModel::reset()
{
    beginResetModel();
    const auto &db = m_source.database();
    m_rows = db ? int(db->rows.size()) : 0;
    m_columns = db ? int(db->columns.size()) : 0;
    endResetModel();
}

int DatabaseTableModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : m_rows;
}

int DatabaseTableModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : m_columns;
}

const DBColumnDTO &DatabaseTableModel::column(int column) const
{
    return m_source.database()->columns[size_t(column)];
}

const DBRowDTO &DatabaseTableModel::row(int row) const
{
    return m_source.database()->rows[size_t(row)];
}

const JSONValue &DatabaseTableModel::value(const QModelIndex &index) const
{
    return DatabaseBlock::cellValue(row(index.row()), column(index.column()).id);
}

QVariant DatabaseTableModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= m_rows || index.column() >= m_columns)
        return {};
    if (role != Qt::DisplayRole && role != Qt::EditRole)
        return {};
    const DBColumnDTO &col = column(index.column());
    const JSONValue &cell = value(index);
    switch (DatabaseBlock::editorOf(col.type)) {
    case DatabaseBlock::Editor::checkbox:
        return role == Qt::EditRole ? QVariant(DatabaseBlock::isChecked(cell)) : QVariant();
    case DatabaseBlock::Editor::select:
        return cell.isString() && !cell.toString().isEmpty() ? cell.toString()
                                                             : QString::fromUtf8(DatabaseBlock::kNoValue);
    case DatabaseBlock::Editor::text:
        break;
    }
    return DatabaseBlock::fieldText(cell, col.type);
}

QVariant DatabaseTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || section < 0 || section >= m_columns)
        return {};
    const DBColumnDTO &col = column(section);
    if (role == Qt::DisplayRole)
        return col.name;
    if (role == Qt::DecorationRole) {
        const QString icon = DatabaseBlock::columnIcon(col.type);
        return m_iconColor.isValid() ? EditorSymbols::icon(icon, m_iconColor) : EditorSymbols::icon(icon);
    }
    return {};
}

Qt::ItemFlags DatabaseTableModel::flags(const QModelIndex &index) const
{
    if (!index.isValid() || index.column() >= m_columns)
        return Qt::NoItemFlags;
    Qt::ItemFlags flags = Qt::ItemIsEnabled;
    if (DatabaseBlock::editorOf(column(index.column()).type) == DatabaseBlock::Editor::text)
        flags |= Qt::ItemIsEditable;
    return flags;
}
