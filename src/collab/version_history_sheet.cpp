#include "collab/version_history_sheet.h"

#include "collab/sheet_header.h"
#include "platform/dialog_confirmer.h"
#include "ui/app_context.h"
#include "ui/app_style.h"
#include "ui/empty_state_view.h"
#include "ui/shown_text.h"

#include <QFrame>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QVBoxLayout>

#include <memory>
#include <optional>

namespace {

// Which version a row's button or busy mark belongs to.
constexpr auto kVersionProperty = "versionID";

} // namespace

VersionHistorySheet::VersionHistorySheet(const AppContext &context, const FNPage &page, QWidget *parent)
    : QDialog(parent)
    , m_history(new VersionHistory(*context.client, context.syncEngine, context.toasts, page.serverID, this))
    , m_ownConfirmer(std::make_unique<DialogConfirmer>(AppStyle::makeDestructive))
    , m_confirmer(m_ownConfirmer.get())
{
    m_history->setEvents(context.events);
    setWindowTitle(QString::fromLatin1(kTitle));
    setFixedSize(420, 460);
    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(18, 18, 18, 18);
    column->setSpacing(14);
    column->addLayout(
        SheetHeader::make(this, QStringLiteral("clock.arrow.circlepath"), QString::fromLatin1(kTitle))
            .layout);
    m_body = new QVBoxLayout;
    column->addLayout(m_body, 1);
    connect(m_history, &VersionHistory::changed, this, &VersionHistorySheet::render);
    connect(m_history, &VersionHistory::closeRequested, this, &QDialog::accept);
    render();
    m_history->load();
}

VersionHistorySheet::~VersionHistorySheet() = default;

void VersionHistorySheet::setConfirmer(Confirmer *confirmer)
{
    m_confirmer = confirmer ? confirmer : m_ownConfirmer.get();
}

void VersionHistorySheet::render()
{
    // A restore starting or ending redraws the rows: the list stays scrolled where it was.
    // A list drawn a moment ago may not have its range yet: its place is still the one to keep.
    std::optional<int> keptScroll = m_pendingScroll;
    if (auto *old = qobject_cast<QScrollArea *>(m_content); old && !keptScroll)
        keptScroll = old->verticalScrollBar()->value();
    m_pendingScroll.reset();
    // The keyboard stays with its version: on its button, or on the busy mark that stands in for it.
    std::optional<qint64> keptFocus;
    if (QWidget *focused = focusWidget(); focused && m_content && m_content->isAncestorOf(focused)) {
        if (const QVariant id = focused->property(kVersionProperty); id.isValid())
            keptFocus = id.toLongLong();
    }
    // Deferred: the old content may hold the button whose click got us here.
    if (m_content) {
        m_content->hide();
        m_content->deleteLater();
    }
    if (m_history->loading()) {
        auto *bar = new QProgressBar;
        bar->setRange(0, 0);
        bar->setTextVisible(false);
        bar->setMaximumHeight(6);
        auto *box = new QWidget;
        auto *l = new QVBoxLayout(box);
        l->setContentsMargins(0, 30, 0, 30);
        l->addWidget(bar);
        l->addStretch(1);
        m_content = box;
    } else if (m_history->error()) {
        auto *label = ShownText::label(*m_history->error());
        label->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
        label->setWordWrap(true);
        label->setStyleSheet(QStringLiteral("color: %1;").arg(AppStyle::css(AppStyle::secondary(this))));
        m_content = label;
    } else if (m_history->versions().empty()) {
        m_content = new EmptyStateView(QStringLiteral("clock.arrow.circlepath"),
                                       QString::fromLatin1(kEmptyTitle), QString::fromLatin1(kEmptySubtitle));
    } else {
        auto *list = new QWidget;
        auto *rows = new QVBoxLayout(list);
        rows->setContentsMargins(0, 0, 0, 0);
        rows->setSpacing(0);
        const auto &versions = m_history->versions();
        for (const VersionDTO &v : versions)
            rows->addWidget(versionRow(v, v.id == versions.back().id));
        rows->addStretch(1);
        auto *scroll = new QScrollArea;
        scroll->setWidgetResizable(true);
        scroll->setFrameShape(QFrame::NoFrame);
        scroll->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
        scroll->setWidget(list);
        m_content = scroll;
    }
    m_body->addWidget(m_content, 1);
    // Shown now rather than when the layout gets to it, so its scroll range is there to set.
    m_content->show();
    auto *scroll = qobject_cast<QScrollArea *>(m_content);
    if (!scroll)
        return;
    if (keptFocus) {
        for (auto *part : scroll->widget()->findChildren<QWidget *>()) {
            if (part->property(kVersionProperty) == QVariant(*keptFocus)) {
                part->setFocus(Qt::OtherFocusReason);
                break;
            }
        }
    }
    if (keptScroll && *keptScroll > 0) {
        // The range comes with the new list's layout.
        m_pendingScroll = keptScroll;
        QScrollBar *bar = scroll->verticalScrollBar();
        auto once = std::make_shared<QMetaObject::Connection>();
        const auto apply = [this, bar, value = *keptScroll, once](int, int maximum) {
            if (maximum < value)
                return;
            bar->setValue(value);
            m_pendingScroll.reset();
            QObject::disconnect(*once);
        };
        *once = connect(bar, &QScrollBar::rangeChanged, bar, apply);
        apply(bar->minimum(), bar->maximum());
    }
}

QWidget *VersionHistorySheet::versionRow(const VersionDTO &version, bool last)
{
    auto *row = new QWidget;
    auto *outer = new QVBoxLayout(row);
    outer->setContentsMargins(0, 10, 0, last ? 10 : 0);
    auto *line = new QHBoxLayout;
    auto *texts = new QVBoxLayout;
    auto *date = ShownText::label(formatVersionDate(version.created_at));
    date->setObjectName(QStringLiteral("versionDate"));
    QFont dateFont = AppStyle::callout();
    dateFont.setWeight(QFont::Medium);
    date->setFont(dateFont);
    auto *meta = ShownText::label(VersionHistory::metaItems(version).join(u' '));
    meta->setFont(AppStyle::caption());
    meta->setStyleSheet(QStringLiteral("color: %1;").arg(AppStyle::css(AppStyle::secondary(this))));
    texts->addWidget(date);
    texts->addWidget(meta);
    line->addLayout(texts);
    line->addStretch(1);
    if (m_history->restoringID() == version.id) {
        auto *busy = new QProgressBar;
        busy->setRange(0, 0);
        busy->setTextVisible(false);
        busy->setFixedSize(40, 6);
        busy->setFocusPolicy(Qt::TabFocus);
        busy->setProperty(kVersionProperty, version.id);
        line->addWidget(busy);
    } else {
        auto *restore = new QPushButton(QString::fromLatin1(kRestore));
        restore->setAutoDefault(false); // a stray Return must not start a restore
        restore->setObjectName(QStringLiteral("restore-%1").arg(version.id));
        restore->setProperty(kVersionProperty, version.id);
        connect(restore, &QPushButton::clicked, this, [this, version] {
            m_history->askRestore(version);
            Confirmer::Question q;
            q.title = QString::fromLatin1(kConfirmTitle);
            q.confirmLabel = QString::fromLatin1(kRestore);
            q.cancelLabel = QStringLiteral("Cancel");
            q.destructive = true;
            m_confirmer->ask(this, q, [history = QPointer<VersionHistory>(m_history)](bool yes) {
                if (!history)
                    return;
                if (yes)
                    history->confirmRestore();
                else
                    history->cancelRestore();
            });
        });
        line->addWidget(restore);
    }
    outer->addLayout(line);
    if (!last) {
        auto *divider = new QFrame;
        divider->setFrameShape(QFrame::HLine);
        divider->setFrameShadow(QFrame::Plain);
        divider->setStyleSheet(QStringLiteral("color: %1;").arg(AppStyle::css(AppStyle::tertiary(this))));
        outer->setSpacing(10);
        outer->addWidget(divider);
    }
    return row;
}
