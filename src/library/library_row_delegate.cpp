#include "library/library_row_delegate.h"

#include "library/library_row_model.h"
#include "library/library_symbols.h"
#include "library/library_tree.h"
#include "ui/app_style.h"
#include "ui/glyph_pixmaps.h"

#include <QLineEdit>
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
constexpr int kHandleHeight = 16;
constexpr int kBadgeSymbol = 12;
constexpr int kBadgeGap = 2;
constexpr int kDropBarHeight = 2;
constexpr qreal kDropTargetOpacity = 0.28;

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

QFont countFont()
{
    return AppStyle::system(11, QFont::DemiBold);
}

QRect centred(int left, const QRect &band, int width, int height)
{
    return QRect(left, band.top() + (band.height() - height) / 2, width, height);
}

void drawChevron(QPainter *painter, const QRect &box, bool open, const QColor &color)
{
    const QPointF c = QRectF(box).center();
    const qreal s = 3.5;
    QPainterPath path;
    if (open) {
        path.moveTo(c.x() - s, c.y() - s / 2);
        path.lineTo(c.x(), c.y() + s / 2);
        path.lineTo(c.x() + s, c.y() - s / 2);
    } else {
        path.moveTo(c.x() - s / 2, c.y() - s);
        path.lineTo(c.x() + s / 2, c.y());
        path.lineTo(c.x() - s / 2, c.y() + s);
    }
    painter->setPen(QPen(color, 1.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter->setBrush(Qt::NoBrush);
    painter->drawPath(path);
}

// "line.3.horizontal"
void drawHandle(QPainter *painter, const QRect &box, const QColor &color)
{
    painter->setPen(QPen(color, 1.4, Qt::SolidLine, Qt::RoundCap));
    const qreal x0 = box.left() + 2.5;
    const qreal x1 = box.right() - 1.5;
    const qreal mid = QRectF(box).center().y();
    for (qreal dy : {-3.0, 0.0, 3.0})
        painter->drawLine(QPointF(x0, mid + dy), QPointF(x1, mid + dy));
}

// "globe"
void drawGlobe(QPainter *painter, const QRect &box, const QColor &color)
{
    const QRectF r = QRectF(box).adjusted(0.75, 0.75, -0.75, -0.75);
    painter->setPen(QPen(color, 1.1));
    painter->setBrush(Qt::NoBrush);
    painter->drawEllipse(r);
    painter->drawEllipse(r.adjusted(r.width() * 0.28, 0, -r.width() * 0.28, 0));
    painter->drawLine(QPointF(r.left(), r.center().y()), QPointF(r.right(), r.center().y()));
}

} // namespace

LibraryRowDelegate::LibraryRowDelegate(QObject *parent)
    : QStyledItemDelegate(parent)
{
}

LibraryRowDelegate::Parts LibraryRowDelegate::layout(const QRect &rowRect, const QModelIndex &index)
{
    Parts parts;
    const Kind kind = kindOf(index);
    if (kind != Kind::Folder && kind != Kind::Page)
        return parts;
    const int depth = index.data(LibraryRowModel::DepthRole).toInt();
    const QRect content = rowRect.adjusted(kHPad + depth * kIndent, kRowVPad, -kHPad, -kRowVPad);

    int x = content.left();
    parts.handle = centred(x, content, kHandleWidth, kHandleHeight);
    x += kHandleWidth + kSpacing;
    const bool hasChevron = index.data(LibraryRowModel::HasChildrenRole).toBool();
    if (hasChevron)
        parts.chevron = centred(x, content, kChevronWidth, std::min(22, content.height()));
    x += kChevronWidth + kSpacing;
    parts.icon = QRect(x, content.top(), kIconWidth, content.height());
    x += kIconWidth + kSpacing;

    int right = content.right() + 1;
    if (kind == Kind::Page) {
        const qint64 shared = index.data(LibraryRowModel::SharedCountRole).toLongLong();
        if (shared > 0) {
            const int text = QFontMetrics(countFont()).horizontalAdvance(QString::number(shared));
            const int width = kBadgeSymbol + kBadgeGap + text;
            parts.share = centred(right - width, content, width, kBadgeSymbol + 2);
            right -= width + kSpacing;
        }
        if (index.data(LibraryRowModel::PublishedRole).toBool()) {
            parts.globe = centred(right - kBadgeSymbol, content, kBadgeSymbol, kBadgeSymbol);
            right -= kBadgeSymbol + kSpacing;
        }
    }
    parts.title = QRect(x, content.top(), std::max(0, right - x), content.height());
    return parts;
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

    const QColor accent = AppStyle::accent(widget);
    const bool selected = index.data(LibraryRowModel::SelectedRole).toBool();
    QPainterPath shape;
    shape.addRoundedRect(QRectF(option.rect), 6, 6);
    if (selected) {
        painter->fillPath(shape, accent);
    } else if (index.data(LibraryRowModel::DropTargetRole).toBool()) {
        QColor tint = accent;
        tint.setAlphaF(kDropTargetOpacity);
        painter->fillPath(shape, tint);
    }
    if (index.data(LibraryRowModel::DropAboveRole).toBool())
        painter->fillRect(QRect(option.rect.left(), option.rect.top(), option.rect.width(), kDropBarHeight),
                          accent);

    const QColor foreground = selected ? QColor(Qt::white) : option.palette.color(QPalette::Text);
    const QColor secondary = selected ? foreground : AppStyle::secondary(widget);
    const Parts parts = layout(option.rect, index);

    // The handle shows only under the pointer.
    if (option.state & QStyle::State_MouseOver)
        drawHandle(painter, parts.handle, secondary);
    if (!parts.chevron.isEmpty())
        drawChevron(painter, parts.chevron, index.data(LibraryRowModel::ExpandedRole).toBool(), secondary);

    const QString icon = index.data(LibraryRowModel::IconRole).toString();
    if (icon.isEmpty() && kind == Kind::Page) {
        const QRect glyph = centred(parts.icon.left() + 2, parts.icon, 13, 13);
        LibrarySymbols::icon(QStringLiteral("doc.text"), secondary).paint(painter, glyph);
    } else if (!icon.isEmpty()) {
        const QPixmap glyph = GlyphPixmaps::pixmap(icon, AppStyle::system(13), foreground,
                                                   painter->device()->devicePixelRatioF());
        const QSizeF size = glyph.deviceIndependentSize();
        painter->drawPixmap(QRectF(parts.icon).center() - QPointF(size.width() / 2, size.height() / 2),
                            glyph);
    }

    const QFont font = titleFont(kind);
    painter->setFont(font);
    painter->setPen(foreground);
    const QString title =
        QFontMetrics(font).elidedText(index.data().toString(), Qt::ElideRight, parts.title.width());
    painter->drawText(parts.title, Qt::AlignLeft | Qt::AlignVCenter, title);

    const QColor badge = selected ? QColor(Qt::white) : accent;
    if (!parts.globe.isEmpty())
        drawGlobe(painter, parts.globe, badge);
    if (!parts.share.isEmpty()) {
        const QRect symbol = centred(parts.share.left(), parts.share, kBadgeSymbol, kBadgeSymbol);
        LibrarySymbols::icon(QStringLiteral("person.2.fill"), badge).paint(painter, symbol);
        painter->setFont(countFont());
        painter->setPen(badge);
        painter->drawText(parts.share.adjusted(kBadgeSymbol + kBadgeGap, 0, 0, 0),
                          Qt::AlignLeft | Qt::AlignVCenter,
                          QString::number(index.data(LibraryRowModel::SharedCountRole).toLongLong()));
    }
    painter->restore();
}

QWidget *LibraryRowDelegate::createEditor(QWidget *parent, const QStyleOptionViewItem &,
                                          const QModelIndex &index) const
{
    auto *editor = new QLineEdit(parent);
    editor->setFrame(false);
    editor->setFont(titleFont(kindOf(index)));
    editor->setText(index.data(Qt::EditRole).toString());
    Q_EMIT editorCreated(editor, index);
    return editor;
}

void LibraryRowDelegate::setEditorData(QWidget *, const QModelIndex &) const
{
}

void LibraryRowDelegate::updateEditorGeometry(QWidget *editor, const QStyleOptionViewItem &option,
                                              const QModelIndex &index) const
{
    editor->setGeometry(layout(option.rect, index).title);
}
