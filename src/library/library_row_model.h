#pragma once

#include "library/library_tree.h"

#include <QAbstractListModel>

#include <optional>
#include <vector>

// The sidebar's rows as a flat list model for the list view. Changes that keep the same rows in the
// same order update them in place, so the view keeps its scroll position and hover.
class LibraryRowModel : public QAbstractListModel
{
    Q_OBJECT
public:
    enum Role {
        KindRole = Qt::UserRole + 1, // LibraryTree::Row::Kind as int
        LocalIDRole,
        RowIDRole,
        DepthRole,
        IconRole,
        HasChildrenRole,
        ExpandedRole,
        SelectedRole,
    };

    static constexpr const char *kUntitled = "Untitled";

    explicit LibraryRowModel(QObject *parent = nullptr);

    void setRows(std::vector<LibraryTree::Row> rows);
    const std::vector<LibraryTree::Row> &rows() const { return m_rows; }
    const LibraryTree::Row *rowAt(int row) const;

    // The page shown as selected (the one open in the editor).
    void setSelectedPage(const std::optional<QString> &localID);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;

private:
    std::vector<LibraryTree::Row> m_rows;
    std::optional<QString> m_selected;
};
