#include "app/sync_button.h"

#include "app/app_symbols.h"
#include "store/kept_recordings.h"
#include "store/local_store.h"
#include "store/sync_engine.h"
#include "ui/app_style.h"
#include "ui/busy_indicator.h"

#include <QEvent>
#include <QLabel>

namespace {

constexpr int kBadgeFontSize = 9;
constexpr int kBadgeHPad = 3;
constexpr int kBadgeOffsetX = 8;
constexpr int kBadgeOffsetY = 6;
const QColor kBadgeColor(255, 149, 0); // the system orange

} // namespace

SyncButton::SyncButton(LocalStore &store, SyncEngine *engine, QWidget *parent, KeptRecordings *recordings)
    : QToolButton(parent)
    , m_store(store)
    , m_engine(engine)
    , m_recordings(recordings)
    , m_spinner(new BusyIndicator(kIconSize, this))
    , m_badge(new QLabel(this))
{
    setObjectName(QStringLiteral("syncButton"));
    setAutoRaise(true);
    setFocusPolicy(Qt::NoFocus);
    setIconSize(QSize(kIconSize, kIconSize));
    setAccessibleName(QString::fromUtf8(kHelp));
    // Room for the badge, which sits above and beyond the symbol's corner.
    setMinimumSize(kIconSize + 2 * (kBadgeOffsetX + 4), kIconSize + 2 * (kBadgeOffsetY + 4));

    m_badge->setAttribute(Qt::WA_TransparentForMouseEvents);
    m_badge->setAlignment(Qt::AlignCenter);
    m_badge->setFont(AppStyle::system(kBadgeFontSize, QFont::Bold));
    m_badge->hide();

    connect(m_spinner, &BusyIndicator::frameChanged, this, [this] {
        if (m_status.kind == SyncStatus::Kind::syncing)
            setIcon(m_spinner->frame(devicePixelRatioF()));
    });
    connect(&m_store, &LocalStore::stateChanged, this, &SyncButton::refresh);
    if (m_engine)
        connect(m_engine, &SyncEngine::isSyncingChanged, this, &SyncButton::refresh);
    if (m_recordings)
        connect(m_recordings, &KeptRecordings::changed, this, &SyncButton::refresh);
    connect(this, &QToolButton::clicked, this, [this] { SyncEngine::syncQuietly(m_engine); });

    refresh();
}

qsizetype SyncButton::unsyncedCount(const LocalStore &store, const SyncEngine *engine,
                                    const KeptRecordings *recordings)
{
    // A page still showing a change the service refused is not saved either.
    // So is a voice note the service does not have yet.
    const qsizetype unsaved =
        (engine ? engine->unsavedPageCount() : 0) + (recordings ? recordings->count() : 0);
    return qsizetype(store.state().outbox.size()) + unsaved;
}

void SyncButton::refresh()
{
    const SyncStatus next =
        SyncStatus::of(m_engine && m_engine->isSyncing(), unsyncedCount(m_store, m_engine, m_recordings));
    // The store changes often; the face only when the status does.
    if (m_drawn && next == m_status)
        return;
    m_drawn = true;
    m_status = next;
    setToolTip(m_status.help());

    const bool syncing = m_status.kind == SyncStatus::Kind::syncing;
    m_spinner->setColor(palette().color(QPalette::ButtonText));
    m_spinner->setRunning(syncing);
    if (syncing)
        setIcon(m_spinner->frame(devicePixelRatioF()));
    else
        setIcon(AppSymbols::icon(m_status.symbol(), palette().color(QPalette::ButtonText)));

    const QString badge = m_status.badgeText();
    m_badge->setText(badge);
    m_badge->setVisible(!badge.isEmpty());
    placeBadge();
}

void SyncButton::placeBadge()
{
    if (m_badge->isHidden())
        return;
    const QFontMetrics metrics(m_badge->font());
    const int height = metrics.height();
    const int width = std::max(height, metrics.horizontalAdvance(m_badge->text()) + 2 * kBadgeHPad);
    m_badge->setStyleSheet(
        QStringLiteral("color: white; background: %1; border-radius: %2px; padding: 0 %3px;")
            .arg(AppStyle::css(kBadgeColor))
            .arg(height / 2)
            .arg(kBadgeHPad));
    // The badge's top-trailing corner on the symbol's, moved right and up.
    const QPoint center = rect().center();
    const int symbolRight = center.x() + kIconSize / 2;
    const int symbolTop = center.y() - kIconSize / 2;
    m_badge->setGeometry(symbolRight + kBadgeOffsetX - width, symbolTop - kBadgeOffsetY, width, height);
    m_badge->raise();
}

void SyncButton::resizeEvent(QResizeEvent *event)
{
    QToolButton::resizeEvent(event);
    placeBadge();
}

void SyncButton::changeEvent(QEvent *event)
{
    QToolButton::changeEvent(event);
    if (event->type() == QEvent::PaletteChange && m_status.kind != SyncStatus::Kind::syncing)
        setIcon(AppSymbols::icon(m_status.symbol(), palette().color(QPalette::ButtonText)));
}
