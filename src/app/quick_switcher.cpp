#include "app/quick_switcher.h"

#include "app/app_style.h"
#include "app/app_symbols.h"
#include "store/local_store.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QVBoxLayout>

namespace {

constexpr int kSearchPad = 14;
constexpr int kSearchGap = 8;
constexpr int kSearchFontSize = 20;
constexpr int kRowHPad = 14;
constexpr int kRowVPad = 9;
constexpr int kEmptyPad = 20;
constexpr int kCorner = 12;
const QString kDefaultIcon = QStringLiteral("\U0001F4C4");

} // namespace

QuickSwitcher::QuickSwitcher(const AppContext &context, QWidget *parent)
    : QDialog(parent, Qt::FramelessWindowHint)
    , m_context(context)
    , m_model(*context.store)
    , m_field(new QLineEdit)
    , m_list(new QListWidget)
    , m_empty(new QLabel)
{
    setObjectName(QStringLiteral("quickSwitcher"));
    setWindowModality(Qt::WindowModal);
    // The sheet itself is clear; the panel draws its own rounded background.
    setAttribute(Qt::WA_TranslucentBackground);
    setFixedWidth(kWidth);

    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    auto *panel = new QFrame(this);
    panel->setObjectName(QStringLiteral("panel"));
    panel->setStyleSheet(QStringLiteral("#panel { background: %1; border-radius: %2px; }")
                             .arg(AppStyle::css(palette().color(QPalette::Window)))
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
    column->addWidget(divider);

    m_list->setParent(panel);
    m_list->setFrameShape(QFrame::NoFrame);
    m_list->setFocusPolicy(Qt::NoFocus);
    m_list->setMaximumHeight(kMaxListHeight);
    m_list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_list->setUniformItemSizes(true);
    QColor highlight = AppStyle::accent(this);
    highlight.setAlphaF(0.18);
    m_list->setStyleSheet(
        QStringLiteral("QListWidget { background: transparent; }"
                       "QListWidget::item { padding: %1px %2px; }"
                       "QListWidget::item:selected { background: %3; color: palette(text); }")
            .arg(kRowVPad)
            .arg(kRowHPad)
            .arg(AppStyle::css(highlight)));
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
    connect(m_context.store, &LocalStore::stateChanged, this, &QuickSwitcher::rebuild);
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
        m_list->addItem(icon + QStringLiteral("  ") + title);
        m_rowIDs.push_back(page.localID);
    }
    m_list->setVisible(!pages.empty());
    m_empty->setVisible(pages.empty());
    m_empty->setText(m_model.emptyMessage());
    showHighlight();
    adjustSize();
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
    Q_EMIT picked(m_rowIDs[size_t(row)]);
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

void QuickSwitcher::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (QWidget *host = parentWidget() ? parentWidget()->window() : nullptr) {
        const QRect area = host->geometry();
        move(area.x() + (area.width() - width()) / 2, area.y() + area.height() / 6);
    }
    m_field->setFocus();
}
