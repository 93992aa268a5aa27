#include "library/library_row_delegate.h"

#include "app/app_style.h"
#include "library/library_row_model.h"
#include "library/library_symbols.h"
#include "library/library_tree.h"

#include <QPainter>
#include <QPainterPath>

namespace {

using Kind = LibraryTree::Row::Kind;

constexpr int kCaptionTop = 4;
constexpr int kCaptionSide = 10;
constexpr int kDividerHeight = 9; // the line with 4 points above and below
constexpr int kIconWidth = 18;
constexpr int kSpacing = 4;
constexpr int kMinRowHeight = 22;

Kind kindOf(const QModelIndex &index)
{
    return Kind(index.data(LibraryRowModel::KindRole).toInt());
}

QFont captionFont()
{
    QFont font = AppStyle::caption();
    font.setWeight(QFont::DemiBold);
    return font;
}

QFont titleFont(Kind kind)
{
    QFont font = AppStyle::callout();
    if (kind == Kind::Folder)
        font.setWeight(QFont::Medium);
    return font;
}

} // namespace

LibraryRowDelegate::LibraryRowDelegate(QObject *parent)
    : QStyledItemDelegate(parent)
{
}

QSize LibraryRowDelegate::sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    const int width = option.rect.width();
    switch (kindOf(index)) {
    case Kind::FavoritesCaption:
        return QSize(width, kCaptionTop + QFontMetrics(captionFont()).height() + 2);
    case Kind::Divider:
        return QSize(width, kDividerHeight);
    default:
        return QSize(width,
                     std::max(kMinRowHeight, QFontMetrics(titleFont(kindOf(index))).height()) + 2 * kRowVPad);
    }
}

void LibraryRowDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option,
                               const QModelIndex &index) const
{
    const QWidget *widget = option.widget;
    const Kind kind = kindOf(index);
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);

    if (kind == Kind::FavoritesCaption) {
        painter->setFont(captionFont());
        painter->setPen(AppStyle::tertiary(widget));
        const QRect text = option.rect.adjusted(kCaptionSide, kCaptionTop, -kCaptionSide, 0);
        painter->drawText(text, Qt::AlignLeft | Qt::AlignVCenter, index.data().toString());
        painter->restore();
        return;
    }
    if (kind == Kind::Divider) {
        painter->setPen(AppStyle::tertiary(widget));
        const int y = option.rect.center().y();
        painter->drawLine(option.rect.left(), y, option.rect.right(), y);
        painter->restore();
        return;
    }

    const bool selected = index.data(LibraryRowModel::SelectedRole).toBool();
    if (selected) {
        QPainterPath shape;
        shape.addRoundedRect(QRectF(option.rect), 6, 6);
        painter->fillPath(shape, AppStyle::accent(widget));
    }
    const QColor foreground = selected ? QColor(Qt::white) : option.palette.color(QPalette::Text);

    const int depth = index.data(LibraryRowModel::DepthRole).toInt();
    QRect content = option.rect.adjusted(kHPad + depth * kIndent, kRowVPad, -kHPad, -kRowVPad);
    // The expansion control's column; the rows' own controls draw into it.
    content.setLeft(content.left() + kChevronWidth + kSpacing);

    const QRect iconRect(content.left(), content.top(), kIconWidth, content.height());
    const QString icon = index.data(LibraryRowModel::IconRole).toString();
    if (icon.isEmpty() && kind == Kind::Page) {
        const QColor tone = selected ? foreground : AppStyle::secondary(widget);
        LibrarySymbols::icon(QStringLiteral("doc.text"), tone)
            .paint(painter, iconRect.adjusted(2, (iconRect.height() - 13) / 2, -2, 0).intersected(iconRect));
    } else {
        painter->setFont(AppStyle::system(13));
        painter->setPen(foreground);
        painter->drawText(iconRect, Qt::AlignCenter, icon);
    }

    const QRect textRect = content.adjusted(kIconWidth + kSpacing, 0, 0, 0);
    const QFont font = titleFont(kind);
    painter->setFont(font);
    painter->setPen(foreground);
    const QString title =
        QFontMetrics(font).elidedText(index.data().toString(), Qt::ElideRight, textRect.width());
    painter->drawText(textRect, Qt::AlignLeft | Qt::AlignVCenter, title);
    painter->restore();
}
