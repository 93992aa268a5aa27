#pragma once

#include <QStyledItemDelegate>

// Draws the sidebar's rows: the "Favorites" caption, the divider after the favourites, and folder
// and page rows indented by their depth, the open page highlighted.
class LibraryRowDelegate : public QStyledItemDelegate
{
    Q_OBJECT
public:
    static constexpr int kRowVPad = 4;
    static constexpr int kIndent = 14;
    static constexpr int kHPad = 6;
    static constexpr int kChevronWidth = 16;

    explicit LibraryRowDelegate(QObject *parent = nullptr);

    void paint(QPainter *painter, const QStyleOptionViewItem &option,
               const QModelIndex &index) const override;
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;
};
