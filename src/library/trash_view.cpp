#include "library/trash_view.h"

#include "library/library_symbols.h"
#include "library/trash_list.h"
#include "ui/app_style.h"
#include "ui/busy_indicator.h"
#include "ui/empty_state_view.h"
#include "ui/shown_text.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QShowEvent>
#include <QStackedWidget>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

namespace {

constexpr int kWidth = 460;
constexpr int kHeight = 520;
constexpr int kPadding = 18;
constexpr int kSpacing = 12;
constexpr int kRowPadding = 10;
constexpr int kRowSpacing = 6;
constexpr int kSpinnerSize = 24;
constexpr int kSmallSpinnerSize = 14;
const char *const kIDProperty = "trashID";

} // namespace

TrashView::TrashView(const AppContext &context, QWidget *parent)
    : QDialog(parent)
{
    Q_ASSERT(context.store && context.client && context.syncEngine);
    m_list = new TrashList(*context.store, *context.client, *context.syncEngine, this);
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QString::fromLatin1(kTitle));
    setFixedSize(kWidth, kHeight);

    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(kPadding, kPadding, kPadding, kPadding);
    column->setSpacing(kSpacing);

    auto *header = new QHBoxLayout;
    auto *symbol = new QLabel(this);
    symbol->setPixmap(
        LibrarySymbols::icon(QStringLiteral("trash"), palette().color(QPalette::WindowText)).pixmap(16, 16));
    auto *title = new QLabel(QString::fromLatin1(kTitle), this);
    title->setFont(AppStyle::headline());
    m_reload = new QToolButton(this);
    m_reload->setAutoRaise(true);
    m_reload->setIcon(
        LibrarySymbols::icon(QStringLiteral("arrow.clockwise"), palette().color(QPalette::WindowText)));
    auto *closeButton = new QToolButton(this);
    closeButton->setAutoRaise(true);
    closeButton->setIcon(
        LibrarySymbols::icon(QStringLiteral("xmark.circle.fill"), AppStyle::secondary(this)));
    header->addWidget(symbol);
    header->addWidget(title);
    header->addStretch(1);
    header->addWidget(m_reload);
    header->addWidget(closeButton);
    column->addLayout(header);
    connect(m_reload, &QToolButton::clicked, m_list, [this] { m_list->load(); });
    connect(closeButton, &QToolButton::clicked, this, &QDialog::reject);

    auto *note = new QLabel(QString::fromLatin1(kNote), this);
    note->setFont(AppStyle::caption());
    note->setWordWrap(true);
    note->setStyleSheet(QStringLiteral("color: %1;").arg(AppStyle::css(AppStyle::secondary(this))));
    column->addWidget(note);

    m_body = new QStackedWidget(this);
    m_spinnerPage = new QWidget(m_body);
    auto *spinnerLayout = new QVBoxLayout(m_spinnerPage);
    m_spinner = new QLabel(m_spinnerPage);
    m_spinner->setFixedSize(kSpinnerSize, kSpinnerSize);
    spinnerLayout->addWidget(m_spinner, 0, Qt::AlignCenter);
    m_busy = new BusyIndicator(kSpinnerSize, this);
    m_busy->setColor(AppStyle::secondary(this));
    m_busy->showIn(m_spinner);

    m_error = AppStyle::errorLabel(m_body);
    m_error->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    m_empty = new EmptyStateView(QStringLiteral("tray"), QString::fromLatin1(kEmptyTitle),
                                 QString::fromLatin1(kEmptyDescription), std::nullopt, {}, m_body);

    auto *scroll = new QScrollArea(m_body);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m_rowsHolder = new QWidget;
    m_rows = new QVBoxLayout(m_rowsHolder);
    m_rows->setContentsMargins(0, 0, 0, 0);
    m_rows->setSpacing(kRowSpacing);
    m_rows->addStretch(1);
    scroll->setWidget(m_rowsHolder);
    m_scroll = scroll;

    for (QWidget *page :
         {m_spinnerPage, static_cast<QWidget *>(m_error), static_cast<QWidget *>(m_empty), m_scroll})
        m_body->addWidget(page);
    column->addWidget(m_body, 1);

    connect(m_list, &TrashList::changed, this, &TrashView::render);
    render();
}

TrashView::~TrashView() = default;

void TrashView::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (m_loadedOnce)
        return;
    m_loadedOnce = true;
    m_list->load();
}

QWidget *TrashView::currentBody() const
{
    return m_body->currentWidget();
}

QWidget *TrashView::rowFor(qint64 id) const
{
    for (QWidget *row : m_rowsHolder->findChildren<QWidget *>(QString(), Qt::FindDirectChildrenOnly)) {
        if (row->property(kIDProperty).toLongLong() == id)
            return row;
    }
    return nullptr;
}

void TrashView::render()
{
    const TrashList &list = *m_list;
    m_busy->setRunning(list.isLoading());
    if (list.isLoading()) {
        m_body->setCurrentWidget(m_spinnerPage);
        return;
    }
    if (list.error()) {
        m_error->setText(*list.error());
        m_body->setCurrentWidget(m_error);
        return;
    }
    while (m_rows->count() > 1) {
        QLayoutItem *item = m_rows->takeAt(0);
        // Later: the click that changed the list may still be running in one of these rows.
        if (QWidget *old = item->widget()) {
            old->hide();
            old->setParent(nullptr);
            old->deleteLater();
        }
        delete item;
    }
    if (list.items().empty()) {
        m_body->setCurrentWidget(m_empty);
        return;
    }
    int at = 0;
    for (const PageDTO &entry : list.items())
        m_rows->insertWidget(at++, makeRow(entry.id));
    m_body->setCurrentWidget(m_scroll);
}

QWidget *TrashView::makeRow(qint64 id)
{
    const auto &items = m_list->items();
    const PageDTO &entry =
        *std::find_if(items.begin(), items.end(), [&](const PageDTO &p) { return p.id == id; });

    auto *row = new QFrame(m_rowsHolder);
    row->setProperty(kIDProperty, id);
    row->setObjectName(QStringLiteral("trashRow"));
    QColor fill = AppStyle::secondary(this);
    fill.setAlphaF(0.06);
    row->setStyleSheet(
        QStringLiteral("#trashRow { background: %1; border-radius: 6px; }").arg(AppStyle::css(fill)));
    auto *layout = new QHBoxLayout(row);
    layout->setContentsMargins(kRowPadding, kRowPadding, kRowPadding, kRowPadding);
    layout->setSpacing(10);

    auto *icon = ShownText::label(TrashList::iconOf(entry), row);
    QFont iconFont = AppStyle::body();
    iconFont.setPointSizeF(iconFont.pointSizeF() * 1.25);
    icon->setFont(iconFont);
    layout->addWidget(icon);

    auto *texts = new QVBoxLayout;
    texts->setSpacing(2);
    QFont titleFont = AppStyle::body();
    titleFont.setWeight(QFont::Medium);
    auto *title = ShownText::label({}, row);
    title->setFont(titleFont);
    title->setText(TrashList::titleOf(entry));
    title->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    auto *stamp = ShownText::label(TrashList::deletedStamp(entry), row);
    stamp->setFont(AppStyle::caption());
    stamp->setStyleSheet(QStringLiteral("color: %1;").arg(AppStyle::css(AppStyle::secondary(this))));
    texts->addWidget(title);
    texts->addWidget(stamp);
    layout->addLayout(texts, 1);

    if (m_list->busyID() == id) {
        auto *spinner = new QLabel(row);
        spinner->setFixedSize(kSmallSpinnerSize, kSmallSpinnerSize);
        auto *busy = new BusyIndicator(kSmallSpinnerSize, spinner);
        busy->setColor(AppStyle::secondary(this));
        busy->setRunning(true);
        busy->showIn(spinner);
        layout->addWidget(spinner);
        return row;
    }
    if (m_list->pendingPurge() == id) {
        auto *confirm = new QPushButton(QString::fromLatin1(kConfirmDelete), row);
        AppStyle::makeDestructiveProminent(confirm);
        connect(confirm, &QPushButton::clicked, m_list, [this, id] { m_list->confirmPurge(id); });
        auto *cancel = new QPushButton(QString::fromLatin1(kCancel), row);
        connect(cancel, &QPushButton::clicked, m_list, &TrashList::cancelPurge);
        layout->addWidget(confirm);
        layout->addWidget(cancel);
        return row;
    }
    auto *restore = new QPushButton(
        LibrarySymbols::icon(QStringLiteral("arrow.uturn.backward"), palette().color(QPalette::ButtonText)),
        QString::fromLatin1(kRestore), row);
    connect(restore, &QPushButton::clicked, m_list, [this, id] { m_list->restore(id); });
    auto *purge = new QToolButton(row);
    purge->setAutoRaise(true);
    purge->setIcon(LibrarySymbols::icon(QStringLiteral("trash.fill"), QColor(Qt::red)));
    purge->setToolTip(QString::fromLatin1(kPermanentlyDelete));
    connect(purge, &QToolButton::clicked, m_list, [this, id] { m_list->requestPurge(id); });
    layout->addWidget(restore);
    layout->addWidget(purge);
    return row;
}
