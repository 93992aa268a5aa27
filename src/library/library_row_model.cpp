#include "library/library_row_model.h"

#include <algorithm>

LibraryRowModel::LibraryRowModel(QObject *parent)
    : QAbstractListModel(parent)
{
}

void LibraryRowModel::setRows(std::vector<LibraryTree::Row> rows)
{
    const bool sameShape =
        rows.size() == m_rows.size() &&
        std::equal(rows.begin(), rows.end(), m_rows.begin(),
                   [](const auto &a, const auto &b) { return a.kind == b.kind && a.localID == b.localID; });
    if (!sameShape) {
        beginResetModel();
        m_rows = std::move(rows);
        endResetModel();
        return;
    }
    for (size_t i = 0; i < rows.size(); ++i) {
        if (rows[i] == m_rows[i])
            continue;
        m_rows[i] = std::move(rows[i]);
        const QModelIndex changed = index(int(i));
        Q_EMIT dataChanged(changed, changed);
    }
}

const LibraryTree::Row *LibraryRowModel::rowAt(int row) const
{
    return row >= 0 && size_t(row) < m_rows.size() ? &m_rows[size_t(row)] : nullptr;
}

void LibraryRowModel::setSelectedPage(const std::optional<QString> &localID)
{
    if (m_selected == localID)
        return;
    m_selected = localID;
    if (!m_rows.empty())
        Q_EMIT dataChanged(index(0), index(int(m_rows.size()) - 1), {SelectedRole});
}

void LibraryRowModel::setDropTargets(const std::optional<QString> &folderLocalID,
                                     const std::optional<QString> &pageLocalID)
{
    if (m_dropFolder == folderLocalID && m_dropAbovePage == pageLocalID)
        return;
    m_dropFolder = folderLocalID;
    m_dropAbovePage = pageLocalID;
    if (!m_rows.empty())
        Q_EMIT dataChanged(index(0), index(int(m_rows.size()) - 1), {DropTargetRole, DropAboveRole});
}

int LibraryRowModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

QVariant LibraryRowModel::data(const QModelIndex &index, int role) const
{
    const LibraryTree::Row *row = rowAt(index.row());
    if (!row || index.parent().isValid())
        return {};
    using Kind = LibraryTree::Row::Kind;
    switch (role) {
    case Qt::DisplayRole:
        if (row->kind == Kind::Page && row->title.isEmpty())
            return QString::fromLatin1(kUntitled);
        return row->title;
    case Qt::EditRole:
        return row->title;
    case KindRole:
        return int(row->kind);
    case LocalIDRole:
        return row->localID;
    case RowIDRole:
        return row->rowID();
    case DepthRole:
        return row->depth;
    case IconRole:
        return row->icon;
    case HasChildrenRole:
        return row->hasChildren;
    case ExpandedRole:
        return row->expanded;
    case SelectedRole:
        return row->kind == Kind::Page && m_selected && *m_selected == row->localID;
    case PublishedRole:
        return row->published;
    case SharedCountRole:
        return row->sharedCount;
    case DropTargetRole:
        return row->kind == Kind::Folder && m_dropFolder == row->localID;
    case DropAboveRole:
        return row->kind == Kind::Page && m_dropAbovePage == row->localID;
    default:
        return {};
    }
}

Qt::ItemFlags LibraryRowModel::flags(const QModelIndex &index) const
{
    const LibraryTree::Row *row = rowAt(index.row());
    if (!row)
        return Qt::NoItemFlags;
    using Kind = LibraryTree::Row::Kind;
    if (row->kind == Kind::FavoritesCaption || row->kind == Kind::Divider)
        return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsEditable;
}

bool LibraryRowModel::setData(const QModelIndex &index, const QVariant &value, int role)
{
    const LibraryTree::Row *row = rowAt(index.row());
    if (!row || role != Qt::EditRole || row->rowID().isEmpty())
        return false;
    Q_EMIT renameSubmitted(row->rowID(), value.toString());
    return true;
}
