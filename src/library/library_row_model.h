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
        PublishedRole,
        SharedCountRole,
        DropTargetRole, // a folder row under a drag
        DropAboveRole,  // a page row under a drag: the bar above it
    };

    static constexpr const char *kUntitled = "Untitled";

    explicit LibraryRowModel(QObject *parent = nullptr);

    void setRows(std::vector<LibraryTree::Row> rows);
    const std::vector<LibraryTree::Row> &rows() const { return m_rows; }
    const LibraryTree::Row *rowAt(int row) const;

    // The page shown as selected (the one open in the editor).
    void setSelectedPage(const std::optional<QString> &localID);
    // The rows highlighted under a drag: a folder row, or the bar above a page row.
    void setDropTargets(const std::optional<QString> &folderLocalID,
                        const std::optional<QString> &pageLocalID);
    const std::optional<QString> &dropTargetFolderLocalID() const { return m_dropFolder; }
    const std::optional<QString> &dropAbovePageLocalID() const { return m_dropAbovePage; }

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;
    // A rename field's text: reported, not stored (the store's change comes back as new rows).
    bool setData(const QModelIndex &index, const QVariant &value, int role = Qt::EditRole) override;

Q_SIGNALS:
    void renameSubmitted(const QString &rowID, const QString &text);

private:
    std::vector<LibraryTree::Row> m_rows;
    std::optional<QString> m_selected;
    std::optional<QString> m_dropFolder;
    std::optional<QString> m_dropAbovePage;
};
