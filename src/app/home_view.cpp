#include "app/home_view.h"

#include "api/session_store.h"
#include "app/app_symbols.h"
#include "app/home_dashboard.h"
#include "store/local_store.h"
#include "ui/app_style.h"
#include "ui/empty_state_view.h"
#include "ui/glyph_pixmaps.h"
#include "ui/listing_watch.h"
#include "ui/relative_time.h"
#include "ui/shown_text.h"
#include "ui/symbol_icons.h"

#include <QGridLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>

namespace {

constexpr int kColumnGap = 28;
constexpr int kSidePad = 40;
constexpr QSize kLogoBox(340, 220);
constexpr int kLogoTopPad = 32;
constexpr int kGreetingSize = 22;
constexpr int kBottomSpace = 60;
constexpr int kSectionMaxWidth = 880;
constexpr int kSectionGap = 12;
constexpr int kGridColumns = 4;
constexpr int kGridGap = 14;
constexpr int kFolderIconSize = 38;
constexpr int kPageIconSize = 24;
constexpr int kRecentMinHeight = 100;
constexpr int kBadgeSize = 11;
const QString kDefaultPageIcon = QStringLiteral("\U0001F4C4");

// A section asks for its full width; the column then gives it that much, or all there is, centred.
class Section : public QWidget
{
public:
    QSize sizeHint() const override { return {kSectionMaxWidth, QWidget::sizeHint().height()}; }
};

// One line that ends in "…" when the card is too narrow, instead of being cut mid-letter.
class ElidedLabel : public QLabel
{
public:
    using QLabel::QLabel;

    QSize minimumSizeHint() const override { return {0, QLabel::minimumSizeHint().height()}; }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.setPen(palette().color(foregroundRole()));
        const QString shown = fontMetrics().elidedText(text(), Qt::ElideRight, contentsRect().width());
        painter.drawText(contentsRect(), int(alignment()), shown);
    }
};

QLabel *cardLabel(const QString &text, const QFont &font, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    label->setFont(font);
    label->setTextFormat(Qt::PlainText);
    label->setAttribute(Qt::WA_TransparentForMouseEvents);
    return label;
}

// A page's or folder's emoji, drawn once for every card that shows it.
QLabel *iconLabel(const QString &icon, int size, QWidget *parent)
{
    if (icon.isEmpty())
        return cardLabel(icon, AppStyle::system(size), parent);
    auto *label = new QLabel(parent);
    label->setAccessibleName(icon);
    label->setAttribute(Qt::WA_TransparentForMouseEvents);
    label->setPixmap(GlyphPixmaps::pixmap(icon, AppStyle::system(size),
                                          parent->palette().color(QPalette::WindowText),
                                          parent->devicePixelRatioF()));
    return label;
}

QFont medium(QFont font)
{
    font.setWeight(QFont::Medium);
    return font;
}

void styleCard(QPushButton *card, qreal fillAlpha)
{
    QColor fill = AppStyle::secondary(card);
    fill.setAlphaF(fillAlpha);
    QColor line = AppStyle::secondary(card);
    line.setAlphaF(0.15);
    card->setFlat(true);
    card->setCursor(Qt::PointingHandCursor);
    // The grid alone decides the width, so the four columns stay equal whatever the names.
    card->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    card->setStyleSheet(
        QStringLiteral("QPushButton { background: %1; border: 1px solid %2; border-radius: 8px; "
                       "text-align: left; }")
            .arg(AppStyle::css(fill), AppStyle::css(line)));
}

} // namespace

HomeView::HomeView(const AppContext &context, QWidget *parent, Clock clock, FirstBuild firstBuild)
    : QWidget(parent)
    , m_context(context)
    , m_clock(std::move(clock))
    , m_column(nullptr)
    , m_greeting(nullptr)
{
    setObjectName(QStringLiteral("homeView"));
    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    auto *scroll = new QScrollArea(this);
    AppStyle::makeVerticalScroll(scroll);
    outer->addWidget(scroll);

    auto *content = new QWidget(scroll);
    m_column = new QVBoxLayout(content);
    m_column->setContentsMargins(kSidePad, kLogoTopPad, kSidePad, kBottomSpace);
    m_column->setSpacing(kColumnGap);
    auto *logo = new QLabel(content);
    logo->setPixmap(SymbolIcons::logo(kLogoBox, devicePixelRatioF()));
    m_column->addWidget(logo, 0, Qt::AlignHCenter);
    m_greeting = ShownText::label({}, content); // holds the user's name
    m_greeting->setObjectName(QStringLiteral("greeting"));
    m_greeting->setFont(AppStyle::system(kGreetingSize, QFont::DemiBold));
    m_column->addWidget(m_greeting, 0, Qt::AlignHCenter);
    m_column->addStretch(1);
    scroll->setWidget(content);

    // A sync applies many changes in a row: the dashboard is rebuilt once after them.
    m_rebuild.setSingleShot(true);
    m_rebuild.setInterval(0);
    connect(&m_rebuild, &QTimer::timeout, this, &HomeView::rebuild);
    connect(new ListingWatch(*m_context.store, this), &ListingWatch::changed, this,
            &HomeView::scheduleRebuild);
    if (m_context.session)
        connect(m_context.session, &SessionStore::userNameChanged, this, &HomeView::scheduleRebuild);
    if (firstBuild == FirstBuild::Now) {
        rebuild();
    } else {
        m_firstBuildPending = true;
        m_greeting->setText(
            HomeDashboard::greeting(now().toLocalTime().time().hour(),
                                    m_context.session ? m_context.session->userName() : std::nullopt));
    }
    m_greeting->installEventFilter(this);
}

// The greeting is the first thing painted on the home screen.
bool HomeView::eventFilter(QObject *watched, QEvent *event)
{
    // Queued, so the frame being painted reaches the screen first.
    if (watched == m_greeting && event->type() == QEvent::Paint && m_firstBuildPending &&
        !m_rebuild.isActive())
        m_rebuild.start();
    return QWidget::eventFilter(watched, event);
}

const HomeView *HomeView::built() const
{
    if (m_firstBuildPending || m_stale)
        const_cast<HomeView *>(this)->rebuild();
    return this;
}

QDateTime HomeView::now() const
{
    return m_clock ? m_clock() : QDateTime::currentDateTime();
}

void HomeView::scheduleRebuild()
{
    // Behind an open page it waits to be shown again: over many pages one rebuild costs far more
    // than a keystroke may, and each keystroke in the page's title renames the page.
    if (!isVisible()) {
        m_stale = true;
        m_rebuild.stop();
        return;
    }
    m_rebuild.start();
}

void HomeView::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    // Before its frame, so what changed while it was hidden never shows stale.
    if (m_stale && !m_firstBuildPending)
        rebuild();
}

void HomeView::rebuild()
{
    m_rebuild.stop();
    m_firstBuildPending = false;
    m_stale = false;
    const StoreState &state = m_context.store->state();
    const QDateTime time = now();
    const std::optional<QString> name = m_context.session ? m_context.session->userName() : std::nullopt;
    m_greeting->setText(HomeDashboard::greeting(time.toLocalTime().time().hour(), name));

    for (QWidget *old : {m_folders, m_recent, static_cast<QWidget *>(m_placeholder)}) {
        if (old)
            old->deleteLater();
    }
    m_folders = nullptr;
    m_recent = nullptr;
    m_placeholder = nullptr;
    m_folderCards.clear();
    m_recentCards.clear();

    const auto folders = HomeDashboard::topLevelFolders(state);
    const auto recent = HomeDashboard::recentPages(state);
    int at = m_column->indexOf(m_greeting) + 1;
    if (!folders.empty()) {
        const auto counts = HomeDashboard::allFolderCounts(state);
        for (const auto &folder : folders)
            m_folderCards.append(folderCard(folder, folder.serverID == 0 ? HomeDashboard::FolderCounts{}
                                                                         : counts.value(folder.serverID)));
        m_folders = section(QString::fromUtf8(kFoldersTitle), m_folderCards);
        m_folders->setObjectName(QStringLiteral("folders"));
        m_column->insertWidget(at++, m_folders, 0, Qt::AlignHCenter);
    }
    if (!recent.empty()) {
        for (const auto &page : recent)
            m_recentCards.append(recentCard(page, time));
        m_recent = section(QString::fromUtf8(kRecentTitle), m_recentCards);
        m_recent->setObjectName(QStringLiteral("recent"));
        m_column->insertWidget(at++, m_recent, 0, Qt::AlignHCenter);
    }
    if (folders.empty() && recent.empty()) {
        m_placeholder = new EmptyStateView(AppSymbols::resolved(QStringLiteral("doc.text.below.ecg")),
                                           QString::fromUtf8(kEmptyTitle), QString::fromUtf8(kEmptySubtitle));
        m_column->insertWidget(at++, m_placeholder);
    }
}

QWidget *HomeView::section(const QString &title, const QList<QPushButton *> &cards)
{
    auto *box = new Section;
    box->setMaximumWidth(kSectionMaxWidth);
    box->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    auto *column = new QVBoxLayout(box);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(kSectionGap);
    auto *heading = new QLabel(title, box);
    heading->setObjectName(QStringLiteral("sectionTitle"));
    heading->setFont(AppStyle::headline());
    heading->setContentsMargins(4, 0, 4, 0);
    column->addWidget(heading);

    auto *grid = new QGridLayout;
    grid->setHorizontalSpacing(kGridGap);
    grid->setVerticalSpacing(kGridGap);
    for (int c = 0; c < kGridColumns; ++c) {
        grid->setColumnStretch(c, 1);
        grid->setColumnMinimumWidth(c, 10);
    }
    for (int i = 0; i < cards.size(); ++i) {
        cards[i]->setParent(box);
        grid->addWidget(cards[i], i / kGridColumns, i % kGridColumns);
    }
    // A short first row keeps the widths of a full one: empty columns would otherwise collapse.
    for (qsizetype i = cards.size(); i < kGridColumns; ++i) {
        auto *filler = new QWidget(box);
        filler->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored);
        grid->addWidget(filler, 0, int(i));
    }
    column->addLayout(grid);
    return box;
}

QPushButton *HomeView::folderCard(const FNFolder &folder, const HomeDashboard::FolderCounts &counts)
{
    auto *card = new QPushButton;
    card->setObjectName(QStringLiteral("folderCard"));
    styleCard(card, 0.07);
    auto *column = new QVBoxLayout(card);
    column->setContentsMargins(8, 18, 8, 18);
    column->setSpacing(10);
    column->addWidget(iconLabel(folder.icon, kFolderIconSize, card), 0, Qt::AlignHCenter);
    auto *name = new ElidedLabel(folder.name, card);
    name->setFont(medium(AppStyle::callout()));
    name->setTextFormat(Qt::PlainText);
    name->setAttribute(Qt::WA_TransparentForMouseEvents);
    name->setAlignment(Qt::AlignCenter);
    name->setObjectName(QStringLiteral("name"));
    column->addWidget(name);
    auto *count = cardLabel(HomeDashboard::folderCountText(counts), AppStyle::caption(), card);
    count->setObjectName(QStringLiteral("count"));
    count->setStyleSheet(QStringLiteral("color: %1;").arg(AppStyle::css(AppStyle::secondary(card))));
    column->addWidget(count, 0, Qt::AlignHCenter);
    card->setMinimumHeight(column->sizeHint().height());

    const QString folderID = folder.localID;
    connect(card, &QPushButton::clicked, this, [this, folderID] {
        const StoreState &now = m_context.store->state();
        const FNFolder *folder = m_context.store->folder(folderID);
        if (!folder)
            return;
        if (const auto page = HomeDashboard::folderOpenPage(now, *folder))
            Q_EMIT pageSelected(page->localID);
    });
    return card;
}

QPushButton *HomeView::recentCard(const FNPage &page, const QDateTime &now)
{
    const StoreState &state = m_context.store->state();
    auto *card = new QPushButton;
    card->setObjectName(QStringLiteral("recentCard"));
    styleCard(card, 0.05);
    auto *column = new QVBoxLayout(card);
    column->setContentsMargins(14, 14, 14, 14);
    column->setSpacing(8);

    auto *top = new QHBoxLayout;
    top->addWidget(iconLabel(page.icon.isEmpty() ? kDefaultPageIcon : page.icon, kPageIconSize, card));
    top->addStretch(1);
    const auto badges = HomeDashboard::pageStatus(state, page);
    const QColor tint = AppStyle::accent(card);
    for (const auto &[shown, symbol] :
         {std::pair{badges.published, "globe"}, std::pair{badges.shared, "person.2.fill"}}) {
        if (!shown)
            continue;
        auto *badge = new QLabel(card);
        badge->setObjectName(QString::fromLatin1(symbol));
        badge->setAttribute(Qt::WA_TransparentForMouseEvents);
        badge->setPixmap(
            AppSymbols::pixmap(QString::fromLatin1(symbol), kBadgeSize, tint, devicePixelRatioF()));
        top->addWidget(badge);
    }
    column->addLayout(top);

    auto *title = cardLabel(page.title.isEmpty() ? QStringLiteral("Untitled") : page.title,
                            medium(AppStyle::callout()), card);
    title->setObjectName(QStringLiteral("title"));
    title->setWordWrap(true);
    title->setMaximumHeight(QFontMetrics(title->font()).lineSpacing() * 2 + 2);
    title->setMinimumWidth(1);
    column->addWidget(title);
    auto *time = cardLabel(RelativeTime::format(page.updatedAt, now), AppStyle::caption(), card);
    time->setObjectName(QStringLiteral("time"));
    time->setStyleSheet(QStringLiteral("color: %1;").arg(AppStyle::css(AppStyle::tertiary(card))));
    column->addWidget(time);
    column->addStretch(1);
    // Room for a two-line title, whatever the title is.
    const QMargins pad = column->contentsMargins();
    card->setMinimumHeight(qMax(kRecentMinHeight, pad.top() + pad.bottom() + top->sizeHint().height() +
                                                      title->maximumHeight() + time->sizeHint().height() +
                                                      2 * column->spacing()));

    const QString pageID = page.localID;
    connect(card, &QPushButton::clicked, this, [this, pageID] { Q_EMIT pageSelected(pageID); });
    return card;
}
