#include "app/quick_switcher.h"

#include "app/app_symbols.h"
#include "store/local_store.h"
#include "ui/app_style.h"
#include "ui/listing_watch.h"
#include "ui/shown_text.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPainter>
#include <QPainterPath>
#include <QStyledItemDelegate>
#include <QVBoxLayout>

namespace {

constexpr int kSearchPad = 14;
constexpr int kSearchGap = 8;
constexpr int kSearchFontSize = 20;
constexpr int kRowHPad = 14;
constexpr int kRowVPad = 9;
constexpr int kEmptyPad = 20;
constexpr int kCorner = 12;
constexpr int kRowGap = 8;
const QString kDefaultIcon = QStringLiteral("\U0001F4C4");
constexpr int kIconRole = Qt::UserRole;
constexpr int kTitleRole = Qt::UserRole + 1;

// Draws every row the same way, highlighted or not, so the highlight changes the background and
// nothing else: the icon and the title stay where they are.
class RowDelegate : public QStyledItemDelegate
{
public:
    RowDelegate(QColor highlight, QObject *parent)
        : QStyledItemDelegate(parent)
        , m_highlight(std::move(highlight))
    {
    }

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        painter->save();
        if (option.state & QStyle::State_Selected)
            painter->fillRect(option.rect, m_highlight);
        painter->setFont(option.font);
        painter->setPen(option.palette.color(QPalette::Text));
        const QRect line = option.rect.adjusted(kRowHPad, 0, -kRowHPad, 0);
        const QString icon = index.data(kIconRole).toString();
        const int iconWidth = option.fontMetrics.horizontalAdvance(icon);
        painter->drawText(line, Qt::AlignLeft | Qt::AlignVCenter, icon);
        const QRect titleRect = line.adjusted(iconWidth + kRowGap, 0, 0, 0);
        painter->drawText(titleRect, Qt::AlignLeft | Qt::AlignVCenter,
                          option.fontMetrics.elidedText(index.data(kTitleRole).toString(), Qt::ElideRight,
                                                        titleRect.width()));
        painter->restore();
    }

    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        const QString text = index.data(kIconRole).toString() + index.data(kTitleRole).toString();
        return {option.fontMetrics.horizontalAdvance(text) + 2 * kRowHPad + kRowGap,
                option.fontMetrics.height() + 2 * kRowVPad};
    }

private:
    QColor m_highlight;
};

} // namespace

QuickSwitcher::QuickSwitcher(const AppContext &context, QWidget *parent)
    : QDialog(parent, Qt::FramelessWindowHint)
    , m_context(context)
    , m_model(*context.store)
    , m_field(new QLineEdit)
    , m_list(new QListWidget)
    , m_empty(ShownText::label()) // quotes the typed query
{
    setObjectName(QStringLiteral("quickSwitcher"));
    setWindowModality(Qt::WindowModal);
    // Opaque, with a rounded mask: a translucent window shows as a black box where no compositor
    // runs.
    setFixedWidth(kWidth);

    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    auto *panel = new QFrame(this);
    panel->setObjectName(QStringLiteral("panel"));
    QColor line = palette().color(QPalette::WindowText);
    line.setAlphaF(0.25);
    panel->setStyleSheet(
        QStringLiteral("#panel { background: %1; border: 1px solid %2; border-radius: %3px; }")
            .arg(AppStyle::css(palette().color(QPalette::Window)), AppStyle::css(line))
            .arg(kCorner));
    outer->addWidget(panel);

    auto *column = new QVBoxLayout(panel);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    auto *search = new QHBoxLayout;
    search->setContentsMargins(kSearchPad, kSearchPad, kSearchPad, kSearchPad);
    search->setSpacing(kSearchGap);
    auto *glass = new QLabel(panel);
    glass->setPixmap(AppSymbols::pixmap(QStringLiteral("magnifyingglass"), kSearchFontSize,
                                        AppStyle::secondary(this), devicePixelRatioF()));
    search->addWidget(glass);
    m_field->setParent(panel);
    m_field->setFrame(false);
    m_field->setPlaceholderText(QString::fromUtf8(kPlaceholder));
    m_field->setFont(AppStyle::system(kSearchFontSize));
    m_field->setStyleSheet(QStringLiteral("background: transparent;"));
    search->addWidget(m_field, 1);
    column->addLayout(search);

    auto *divider = new QFrame(panel);
    divider->setFrameShape(QFrame::HLine);
    divider->setFrameShadow(QFrame::Plain);
    divider->setStyleSheet(QStringLiteral("color: %1;").arg(AppStyle::css(line)));
    column->addWidget(divider);

    m_list->setParent(panel);
    m_list->setFrameShape(QFrame::NoFrame);
    m_list->setFocusPolicy(Qt::NoFocus);
    m_list->setMaximumHeight(kMaxListHeight);
    m_list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_list->setUniformItemSizes(true);
    QColor highlight = AppStyle::accent(this);
    highlight.setAlphaF(0.18);
    m_list->setItemDelegate(new RowDelegate(highlight, m_list));
    m_list->setStyleSheet(QStringLiteral("QListWidget { background: transparent; }"));
    m_list->viewport()->setAutoFillBackground(false);
    m_list->setSizeAdjustPolicy(QAbstractScrollArea::AdjustIgnored);
    column->addWidget(m_list);

    m_empty->setParent(panel);
    m_empty->setContentsMargins(kEmptyPad, kEmptyPad, kEmptyPad, kEmptyPad);
    m_empty->setStyleSheet(QStringLiteral("color: %1;").arg(AppStyle::css(AppStyle::secondary(this))));
    column->addWidget(m_empty);

    m_field->installEventFilter(this);
    m_list->installEventFilter(this);
    connect(m_field, &QLineEdit::textChanged, this, [this](const QString &text) {
        m_model.setQuery(text);
        rebuild();
    });
    connect(m_field, &QLineEdit::returnPressed, this, &QuickSwitcher::pickHighlighted);
    connect(m_list, &QListWidget::itemClicked, this,
            [this](QListWidgetItem *item) { pickRow(m_list->row(item)); });
    auto *watch = new ListingWatch(*m_context.store, this);
    connect(watch, &ListingWatch::changed, this, &QuickSwitcher::rebuild);
    connect(watch, &ListingWatch::folderChanged, this, &QuickSwitcher::rebuild);
    connect(watch, &ListingWatch::pageChanged, this, &QuickSwitcher::rebuild);
    rebuild();
}

void QuickSwitcher::rebuild()
{
    const auto pages = m_model.results();
    m_rowIDs.clear();
    m_list->clear();
    for (const auto &page : pages) {
        const QString icon = page.icon.isEmpty() ? kDefaultIcon : page.icon;
        const QString title = page.title.isEmpty() ? QStringLiteral("Untitled") : page.title;
        auto *item = new QListWidgetItem(icon + QStringLiteral("  ") + title, m_list);
        item->setData(kIconRole, icon);
        item->setData(kTitleRole, title);
        m_rowIDs.push_back(page.localID);
    }
    // As tall as its rows, up to the cap; past it the list scrolls.
    const int rows = m_list->count() ? m_list->sizeHintForRow(0) * m_list->count() : 0;
    m_list->setFixedHeight(qMin(kMaxListHeight, rows + 2 * m_list->frameWidth()));
    m_list->setVisible(!pages.empty());
    m_empty->setVisible(pages.empty());
    m_empty->setText(m_model.emptyMessage());
    showHighlight();
    // The layouts would catch up with the new list height only on later events, after the resize
    // has met the old minimum height. Not adjustSize(): it makes a window at least 100 high.
    m_list->parentWidget()->layout()->activate();
    layout()->activate();
    placeOverHost(sizeHint().height());
}

void QuickSwitcher::placeOverHost(int height)
{
    QWidget *host = parentWidget() ? parentWidget()->window() : nullptr;
    if (!host) {
        resize(kWidth, height);
        return;
    }
    // Position and size in one request: a window manager that is asked for a new size alone may
    // place the window anew (openbox put it in the screen's corner).
    const QRect area = host->geometry();
    setGeometry(area.x() + (area.width() - kWidth) / 2, area.y() + area.height() / 6, kWidth, height);
}

void QuickSwitcher::showHighlight()
{
    const int row = m_model.highlighted();
    if (row < 0 || row >= m_list->count()) {
        m_list->setCurrentRow(-1);
        return;
    }
    m_list->setCurrentRow(row);
    m_list->scrollToItem(m_list->item(row), QAbstractItemView::PositionAtCenter);
}

void QuickSwitcher::pickHighlighted()
{
    const auto page = m_model.pick();
    if (!page)
        return; // nothing to pick: the switcher stays open
    Q_EMIT picked(page->localID);
    accept();
}

void QuickSwitcher::pickRow(int row)
{
    if (row < 0 || size_t(row) >= m_rowIDs.size())
        return;
    // A copy: the receivers may change the store, which rebuilds the rows under a reference.
    const QString id = m_rowIDs[size_t(row)];
    Q_EMIT picked(id);
    accept();
}

bool QuickSwitcher::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::KeyPress) {
        switch (static_cast<QKeyEvent *>(event)->key()) {
        case Qt::Key_Down:
            m_model.moveDown();
            showHighlight();
            return true;
        case Qt::Key_Up:
            m_model.moveUp();
            showHighlight();
            return true;
        case Qt::Key_Escape:
            reject();
            return true;
        default:
            break;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void QuickSwitcher::resizeEvent(QResizeEvent *event)
{
    QDialog::resizeEvent(event);
    QPainterPath shape;
    shape.addRoundedRect(QRectF(rect()), kCorner, kCorner);
    setMask(QRegion(shape.toFillPolygon().toPolygon()));
}

void QuickSwitcher::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    placeOverHost(height());
    m_field->setFocus();
}
