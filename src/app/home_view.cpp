#include "app/home_view.h"

#include "api/session_store.h"
#include "app/app_symbols.h"
#include "app/home_dashboard.h"
#include "platform/work_label.h"
#include "store/batch_change.h"
#include "store/local_store.h"
#include "ui/app_style.h"
#include "ui/card_button.h"
#include "ui/empty_state_view.h"
#include "ui/fitted_text.h"
#include "ui/glyph_pixmaps.h"
#include "ui/relative_time.h"
#include "ui/shown_text.h"
#include "ui/symbol_icons.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QGridLayout>
#include <QLabel>
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
// Time spent making cards per turn of the event loop: a style-sheeted card costs a millisecond or
// more, and a dashboard of hundreds must not freeze the window that shows it.
constexpr int kTitleLines = 2;
const QString kDefaultPageIcon = QStringLiteral("\U0001F4C4");

// A section asks for its full width; the column then gives it that much, or all there is, centred.
class Section : public QWidget
{
public:
    QSize sizeHint() const override { return {kSectionMaxWidth, QWidget::sizeHint().height()}; }
};

QLabel *cardLabel(const QString &text, const QFont &font, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    label->setFont(font);
    label->setTextFormat(Qt::PlainText);
    label->setAttribute(Qt::WA_TransparentForMouseEvents);
    return label;
}

// A card's text whose box keeps its size whatever it says: a rename repaints that box alone.
FittedText *cardText(int lines, const QFont &font, const QString &objectName, QWidget *parent)
{
    auto *text = new FittedText(lines, parent);
    text->setFont(font);
    text->setObjectName(objectName);
    text->setAttribute(Qt::WA_TransparentForMouseEvents);
    return text;
}

// A page's or folder's emoji, drawn once for every card that shows it.
// An emoji drawn as text inflates its picture again on every paint: the label shows one drawn once.
bool setShownIcon(QLabel *label, const QString &icon, int size)
{
    if (label->accessibleName() == icon && (icon.isEmpty() || !label->pixmap().isNull()))
        return false;
    label->setAccessibleName(icon);
    if (icon.isEmpty()) {
        label->clear();
        return true;
    }
    label->setPixmap(GlyphPixmaps::pixmap(icon, AppStyle::system(size),
                                          label->palette().color(QPalette::WindowText),
                                          label->devicePixelRatioF()));
    return true;
}

QFont medium(QFont font)
{
    font.setWeight(QFont::Medium);
    return font;
}

QPushButton *newCard(qreal fillAlpha)
{
    auto *card = new CardButton(fillAlpha);
    // The grid alone decides the width, so the four columns stay equal whatever the names.
    card->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    return card;
}

// A label's text in a tone of its own, set by palette: a style sheet costs each card a parse.
void setTextTone(QWidget *label, const QColor &tone)
{
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, tone);
    label->setPalette(palette);
    // Inside a button, text is drawn in the button's text colour unless told otherwise.
    label->setForegroundRole(QPalette::WindowText);
}

// Only a text that differs is set: an unchanged card is neither laid out nor painted again.
bool setShown(QLabel *label, const QString &text)
{
    if (label->text() == text)
        return false;
    label->setText(text);
    return true;
}

// A widget added to a shown parent shows now, not at the next turn of the event loop: until then
// a layout would leave it out.
void showInShownParent(QWidget *widget)
{
    if (widget->parentWidget() && widget->parentWidget()->isVisible())
        widget->show();
}

} // namespace

HomeView::HomeView(const AppContext &context, QWidget *parent, Clock clock, FirstBuild firstBuild)
    : QWidget(parent)
    , m_context(context)
    , m_clock(std::move(clock))
    , m_scroll(nullptr)
    , m_column(nullptr)
    , m_greeting(nullptr)
{
    m_content = new HomeContent(*m_context.store, this);
    setObjectName(QStringLiteral("homeView"));
    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    auto *scroll = new QScrollArea(this);
    m_scroll = scroll;
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

    // A sync applies many changes in a row: the cards are filled once after them.
    m_fill.setSingleShot(true);
    m_fill.setInterval(0);
    connect(&m_fill, &QTimer::timeout, this, &HomeView::fill);
    connect(m_content, &HomeContent::changed, this, &HomeView::note);
    if (m_context.session)
        connect(m_context.session, &SessionStore::userNameChanged, this, [this] { note({}); });
    if (firstBuild == FirstBuild::Now) {
        reload();
    } else {
        m_firstBuildPending = true;
        m_greeting->setText(
            HomeDashboard::greeting(now().toLocalTime().time().hour(),
                                    m_context.session ? m_context.session->userName() : std::nullopt));
    }
    m_greeting->installEventFilter(this);
}

// Behind an open page nothing is filled: the cards wait to be shown, so a keystroke in a page's
// title costs no card here.
void HomeView::note(const HomeContent::Changes &changes)
{
    m_pending |= changes;
    if (isVisible())
        m_fill.start();
}

// The greeting is the first thing painted on the home screen.
bool HomeView::eventFilter(QObject *watched, QEvent *event)
{
    // Queued, so the frame being painted reaches the screen first.
    if (watched == m_greeting && event->type() == QEvent::Paint && m_firstBuildPending && !m_fill.isActive())
        m_fill.start();
    return QWidget::eventFilter(watched, event);
}

const HomeView *HomeView::built() const
{
    auto *self = const_cast<HomeView *>(this);
    if (m_firstBuildPending)
        self->reload();
    // A fill may leave cards to the next turns: all of them are asked for here.
    while (m_pending.folders || m_pending.recent || m_fill.isActive())
        self->fill();
    return this;
}

QDateTime HomeView::now() const
{
    return m_clock ? m_clock() : QDateTime::currentDateTime();
}

void HomeView::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    // Before its frame, so what changed while it was hidden never shows stale (the greeting and
    // the relative times included).
    if (!m_firstBuildPending)
        fill();
}

void HomeView::reload()
{
    const WorkLabel label("home-reload");
    m_firstBuildPending = false;
    m_content->reload();
    m_pending = {true, true};
    // On screen, the cards come at the next turns: this one has worked out the whole state.
    if (isVisible())
        m_fill.start();
    else
        fill();
}

bool HomeView::roomForCards() const
{
    return m_madeThisTurn == 0 || !isVisible() || m_turn.elapsed() < m_cardsTurn.count();
}

void HomeView::fill()
{
    // The first fill waits for the first paint, then works everything out.
    if (m_firstBuildPending) {
        reload();
        return;
    }
    const WorkLabel label("home-fill");
    m_fill.stop();
    m_turn.start();
    m_madeThisTurn = 0;
    const std::optional<QString> name = m_context.session ? m_context.session->userName() : std::nullopt;
    setShown(m_greeting, HomeDashboard::greeting(now().toLocalTime().time().hour(), name));
    const HomeContent::Changes changes = std::exchange(m_pending, {});
    if (changes.folders)
        fillFolders();
    // The relative times move on with the clock: the recent cards are filled at every change.
    fillRecent();
    fillPlaceholder();
    // The page under the sections grows now, not at the next turn: until it does, a grown grid is
    // squeezed into the room it had, and every card in view is drawn twice.
    m_column->activate();
    QCoreApplication::sendPostedEvents(m_scroll->viewport(), QEvent::LayoutRequest);
}

void HomeView::fillFolders()
{
    const std::vector<FNFolder> &folders = m_content->folders();
    if (folders.empty()) {
        dropSection(m_folderGrid, m_folderCards);
        m_folderParts.clear();
        return;
    }
    if (!m_folderGrid.box)
        m_folderGrid = section(QString::fromUtf8(kFoldersTitle), QStringLiteral("folders"),
                               m_column->indexOf(m_greeting) + 1);
    m_folderParts.resize(std::min(m_folderParts.size(), folders.size()));
    // Made and filled one at a time; the rest come at the next turn, from the folders as they will be then.
    const qsizetype kept = std::min(qsizetype(folders.size()), m_folderCards.size());
    growCards(
        m_folderGrid, m_folderCards, qsizetype(folders.size()), m_pending.folders,
        [this](int slot) { return folderCard(slot); }, [this](qsizetype at) { fillFolderCard(size_t(at)); });
    // The cards made above hold the folders as they are; those kept may not.
    for (size_t i = 0; i < size_t(kept); ++i)
        fillFolderCard(i);
}

void HomeView::fillFolderCard(size_t i)
{
    const FNFolder &folder = m_content->folders()[i];
    const FolderCard &card = m_folderParts[i];
    card.name->setText(folder.name);
    bool changed = setShownIcon(card.icon, folder.icon, kFolderIconSize);
    changed |= setShown(card.count, HomeDashboard::folderCountText(m_content->counts(folder)));
    // A button asks for the room of its own text only: the card's rows set its height.
    if (changed) {
        QPushButton *button = m_folderCards[qsizetype(i)];
        button->setMinimumHeight(button->layout()->sizeHint().height());
    }
}

void HomeView::fillRecent()
{
    const std::vector<FNPage> &recent = m_content->recent();
    if (recent.empty()) {
        dropSection(m_recentGrid, m_recentCards);
        m_recentParts.clear();
        return;
    }
    if (!m_recentGrid.box) {
        const int at =
            m_folderGrid.box ? m_column->indexOf(m_folderGrid.box) + 1 : m_column->indexOf(m_greeting) + 1;
        m_recentGrid = section(QString::fromUtf8(kRecentTitle), QStringLiteral("recent"), at);
    }
    m_recentParts.resize(std::min(m_recentParts.size(), recent.size()));
    // Made as the folder cards are, in what is left of the turn.
    const qsizetype shown = growCards(m_recentGrid, m_recentCards, qsizetype(recent.size()), m_pending.recent,
                                      [this](int slot) { return recentCard(slot); });
    const StoreState &state = m_context.store->state();
    const QDateTime time = now();
    for (size_t i = 0; i < size_t(shown); ++i) {
        const FNPage &page = recent[i];
        const RecentCard &card = m_recentParts[i];
        const bool resized =
            setShownIcon(card.icon, page.icon.isEmpty() ? kDefaultPageIcon : page.icon, kPageIconSize);
        card.title->setText(page.title.isEmpty() ? QStringLiteral("Untitled") : page.title);
        card.time->setText(RelativeTime::format(page.updatedAt, time));
        const auto badges = HomeDashboard::pageStatus(state, page);
        card.published->setVisible(badges.published);
        card.shared->setVisible(badges.shared);
        if (resized)
            fitRecentCard(m_recentCards[qsizetype(i)], card);
    }
}

void HomeView::fillPlaceholder()
{
    const bool empty = !m_folderGrid.box && !m_recentGrid.box;
    if (empty && !m_placeholder) {
        m_placeholder = new EmptyStateView(AppSymbols::resolved(QStringLiteral("doc.text.below.ecg")),
                                           QString::fromUtf8(kEmptyTitle), QString::fromUtf8(kEmptySubtitle));
        m_column->insertWidget(m_column->indexOf(m_greeting) + 1, m_placeholder);
        showInShownParent(m_placeholder);
    } else if (!empty && m_placeholder) {
        m_placeholder->hide();
        m_placeholder->deleteLater();
        m_placeholder = nullptr;
    }
}

HomeView::Grid HomeView::section(const QString &title, const QString &objectName, int at)
{
    Grid grid;
    auto *box = new Section;
    box->setObjectName(objectName);
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

    grid.box = box;
    grid.layout = new QGridLayout;
    grid.layout->setHorizontalSpacing(kGridGap);
    grid.layout->setVerticalSpacing(kGridGap);
    for (int c = 0; c < kGridColumns; ++c) {
        grid.layout->setColumnStretch(c, 1);
        grid.layout->setColumnMinimumWidth(c, 10);
    }
    column->addLayout(grid.layout);
    m_column->insertWidget(at, box, 0, Qt::AlignHCenter);
    showInShownParent(box);
    return grid;
}

void HomeView::dropSection(Grid &grid, QList<QPushButton *> &cards)
{
    if (grid.box) {
        grid.box->hide();
        // Later: the change may come from one of its own cards' signals.
        grid.box->deleteLater();
    }
    grid = {};
    cards.clear();
}

qsizetype HomeView::growCards(Grid &grid, QList<QPushButton *> &cards, qsizetype wanted, bool &pending,
                              const std::function<QPushButton *(int slot)> &make,
                              const std::function<void(qsizetype at)> &made)
{
    // A widget shown in a shown parent lays out every layout above it at once: the grid is laid out
    // once after the turn's cards, not again for each.
    QLayout *layout = grid.box->isVisible() ? grid.box->layout() : nullptr;
    if (layout)
        layout->setEnabled(false);
    qsizetype shown = std::min(wanted, cards.size());
    while (shown < wanted && roomForCards()) {
        ++shown;
        ++m_madeThisTurn;
        setCardCount(grid, cards, shown, make);
        if (made)
            made(shown - 1);
    }
    setCardCount(grid, cards, shown, make);
    if (layout) {
        layout->setEnabled(true);
        layout->activate();
    }
    if (shown < wanted) {
        pending = true;
        m_fill.start();
    }
    return shown;
}

void HomeView::setCardCount(Grid &grid, QList<QPushButton *> &cards, qsizetype count,
                            const std::function<QPushButton *(int slot)> &make)
{
    if (cards.size() == count)
        return;
    while (cards.size() > count) {
        QPushButton *card = cards.takeLast();
        grid.layout->removeWidget(card);
        card->hide();
        card->deleteLater();
    }
    while (cards.size() < count) {
        const int slot = int(cards.size());
        QPushButton *card = make(slot);
        card->setParent(grid.box);
        grid.layout->addWidget(card, slot / kGridColumns, slot % kGridColumns);
        // Until the grid places it, it lies clear of the pointer: shown, it would take its hover.
        card->move(-card->width(), -card->height());
        showInShownParent(card);
        cards.append(card);
    }
    // A short first row keeps the widths of a full one: empty columns would otherwise collapse.
    for (QWidget *filler : std::exchange(grid.fillers, {})) {
        grid.layout->removeWidget(filler);
        delete filler;
    }
    for (qsizetype i = count; i < kGridColumns; ++i) {
        auto *filler = new QWidget(grid.box);
        filler->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored);
        grid.layout->addWidget(filler, 0, int(i));
        showInShownParent(filler);
        grid.fillers.append(filler);
    }
}

QPushButton *HomeView::folderCard(int slot)
{
    QPushButton *card = newCard(0.07);
    card->setObjectName(QStringLiteral("folderCard"));
    auto *column = new QVBoxLayout(card);
    column->setContentsMargins(8, 18, 8, 18);
    column->setSpacing(10);
    FolderCard parts;
    parts.icon = cardLabel(QString(), AppStyle::system(kFolderIconSize), card);
    parts.icon->setObjectName(QStringLiteral("icon"));
    column->addWidget(parts.icon, 0, Qt::AlignHCenter);
    parts.name = cardText(1, medium(AppStyle::callout()), QStringLiteral("name"), card);
    parts.name->setAlignment(Qt::AlignHCenter);
    column->addWidget(parts.name);
    parts.count = cardLabel(QString(), AppStyle::caption(), card);
    parts.count->setObjectName(QStringLiteral("count"));
    setTextTone(parts.count, AppStyle::secondary(card));
    column->addWidget(parts.count, 0, Qt::AlignHCenter);
    m_folderParts.push_back(parts);

    connect(card, &QPushButton::clicked, this, [this, slot] {
        const std::vector<FNFolder> &folders = m_content->folders();
        if (size_t(slot) >= folders.size())
            return;
        const FNFolder *folder = m_context.store->folder(folders[size_t(slot)].localID);
        if (!folder)
            return;
        if (const auto page = HomeDashboard::folderOpenPage(m_context.store->state(), *folder))
            Q_EMIT pageSelected(page->localID);
    });
    return card;
}

// Drawn from its picture once for all the cards: a card made per turn would parse it again each time.
QPixmap HomeView::badgePixmap(const QString &symbol, const QColor &tint)
{
    const QString key = symbol + QLatin1Char('/') + tint.name(QColor::HexArgb) + QLatin1Char('@') +
                        QString::number(devicePixelRatioF());
    auto it = m_badges.constFind(key);
    if (it == m_badges.cend())
        it = m_badges.insert(key, AppSymbols::pixmap(symbol, kBadgeSize, tint, devicePixelRatioF()));
    return *it;
}

// Room for a two-line title, whatever the title is.
void HomeView::fitRecentCard(QPushButton *button, const RecentCard &card)
{
    auto *column = static_cast<QVBoxLayout *>(button->layout());
    const QMargins pad = column->contentsMargins();
    button->setMinimumHeight(qMax(kRecentMinHeight, pad.top() + pad.bottom() + card.top->sizeHint().height() +
                                                        card.title->sizeHint().height() +
                                                        card.time->sizeHint().height() +
                                                        2 * column->spacing()));
}

QPushButton *HomeView::recentCard(int slot)
{
    QPushButton *card = newCard(0.05);
    card->setObjectName(QStringLiteral("recentCard"));
    auto *column = new QVBoxLayout(card);
    column->setContentsMargins(14, 14, 14, 14);
    column->setSpacing(8);

    RecentCard parts;
    auto *top = new QHBoxLayout;
    parts.icon = cardLabel(QString(), AppStyle::system(kPageIconSize), card);
    parts.icon->setObjectName(QStringLiteral("icon"));
    top->addWidget(parts.icon);
    top->addStretch(1);
    const QColor tint = AppStyle::accent(card);
    for (const auto &[badge, symbol] :
         {std::pair{&parts.published, "globe"}, std::pair{&parts.shared, "person.2.fill"}}) {
        auto *label = new QLabel(card);
        label->setObjectName(QString::fromLatin1(symbol));
        label->setAttribute(Qt::WA_TransparentForMouseEvents);
        label->setPixmap(badgePixmap(QString::fromLatin1(symbol), tint));
        label->hide();
        top->addWidget(label);
        *badge = label;
    }
    column->addLayout(top);

    parts.title = cardText(kTitleLines, medium(AppStyle::callout()), QStringLiteral("title"), card);
    column->addWidget(parts.title);
    parts.time = cardText(1, AppStyle::caption(), QStringLiteral("time"), card);
    setTextTone(parts.time, AppStyle::tertiary(card));
    column->addWidget(parts.time);
    column->addStretch(1);
    parts.top = top;
    fitRecentCard(card, parts);
    m_recentParts.push_back(parts);

    connect(card, &QPushButton::clicked, this, [this, slot] {
        const std::vector<FNPage> &recent = m_content->recent();
        if (size_t(slot) < recent.size())
            Q_EMIT pageSelected(recent[size_t(slot)].localID);
    });
    return card;
}
