#include "collab/share_sheet.h"

#include "collab/sheet_header.h"
#include "ui/app_context.h"
#include "ui/app_style.h"
#include "ui/busy_indicator.h"
#include "ui/shown_text.h"
#include "ui/symbol_icons.h"

#include <QComboBox>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

// A small spinner at 70 %.
constexpr int kButtonSpinnerSize = 11;

QString colored(const QColor &color)
{
    return QStringLiteral("color: %1;").arg(AppStyle::css(color));
}

} // namespace

ShareSheet::ShareSheet(const AppContext &context, const FNPage &page, QWidget *parent)
    : QDialog(parent)
    , m_model(new ShareSheetModel(context.client, context.store, page.serverID, this))
{
    const QString title = ShareSheetModel::title(page.title);
    setWindowTitle(title);
    setFixedSize(520, 500);
    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(20, 20, 20, 20);
    column->setSpacing(14);
    column->addLayout(SheetHeader::make(this, QStringLiteral("person.2.fill"), title).layout);

    auto *box = new QFrame(this);
    box->setObjectName(QStringLiteral("inviteBox"));
    box->setStyleSheet(
        QStringLiteral("#inviteBox { background: rgba(128,128,128,13); border-radius: 8px; }"));
    auto *invite = new QVBoxLayout(box);
    invite->setContentsMargins(10, 10, 10, 10);
    invite->setSpacing(10);
    m_email = new QLineEdit(box);
    m_email->setPlaceholderText(QStringLiteral("name@example.com"));
    invite->addWidget(m_email);
    auto *roleRow = new QHBoxLayout;
    roleRow->setSpacing(8);
    auto *roleLabel = new QLabel(QStringLiteral("Role"), box);
    roleLabel->setFont(AppStyle::callout());
    roleLabel->setStyleSheet(colored(AppStyle::secondary(this)));
    m_role = new QComboBox(box);
    for (const auto &o : ShareSheetModel::roleOptions())
        m_role->addItem(QString::fromUtf8(o.label), QString::fromLatin1(o.id));
    m_role->setCurrentIndex(m_role->findData(m_model->role()));
    roleRow->addWidget(roleLabel);
    roleRow->addWidget(m_role);
    roleRow->addStretch(1);
    invite->addLayout(roleRow);
    m_hint = new QLabel(box);
    m_hint->setFont(AppStyle::caption());
    m_hint->setStyleSheet(colored(AppStyle::tertiary(this)));
    invite->addWidget(m_hint);
    auto *sendRow = new QHBoxLayout;
    sendRow->addStretch(1);
    m_send = new QPushButton(QString::fromLatin1(kSendInvite), box);
    m_send->setAutoDefault(false);
    m_send->setIconSize(QSize(kButtonSpinnerSize, kButtonSpinnerSize));
    m_sendBusy = new BusyIndicator(kButtonSpinnerSize, this);
    connect(m_sendBusy, &BusyIndicator::frameChanged, this, [this] {
        m_send->setIcon(m_sendBusy->isRunning() ? m_sendBusy->frame(devicePixelRatioF()) : QIcon());
    });
    sendRow->addWidget(m_send);
    invite->addLayout(sendRow);
    column->addWidget(box);

    m_error = AppStyle::errorLabel(this);
    m_info = ShownText::label({}, this);
    m_info->setFont(AppStyle::callout());
    // The system green of a dark or a light appearance: plain green is hard to read on a dark window.
    const bool dark = palette().color(QPalette::Window).lightness() < 128;
    m_info->setStyleSheet(
        QStringLiteral("color: %1;").arg(dark ? QStringLiteral("#30d158") : QStringLiteral("#1e7e34")));
    column->addWidget(m_error);
    column->addWidget(m_info);
    auto *divider = new QFrame(this);
    divider->setFrameShape(QFrame::HLine);
    // A soft line in the palette's tone: the text colour would draw it black, or white in a dark theme.
    divider->setFrameShadow(QFrame::Plain);
    divider->setStyleSheet(QStringLiteral("color: %1;").arg(AppStyle::css(AppStyle::tertiary(this))));
    column->addWidget(divider);

    const SheetSpinner spinner = SheetSpinner::make(this);
    m_loadingBusy = spinner.busy;
    m_loading = spinner.area;
    column->addWidget(m_loading);
    auto *scroll = new QScrollArea(this);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    m_scroll = scroll;
    column->addWidget(m_scroll, 1);

    connect(m_email, &QLineEdit::textEdited, m_model, &ShareSheetModel::setEmail);
    connect(m_role, &QComboBox::currentIndexChanged, this,
            [this](int i) { m_model->setRole(m_role->itemData(i).toString()); });
    connect(m_send, &QPushButton::clicked, m_model, &ShareSheetModel::sendInvite);
    connect(m_model, &ShareSheetModel::changed, this, &ShareSheet::render);
    render();
    m_email->setFocus(); // the address is what the user came to type
    m_model->loadShares();
}

void ShareSheet::render()
{
    const ShareSheetModel &m = *m_model;
    if (m_email->text() != m.email())
        m_email->setText(m.email());
    const auto hint = ShareSheetModel::roleHint(m.role());
    m_hint->setVisible(hint.has_value());
    m_hint->setText(hint.value_or(QString()));
    m_send->setEnabled(m.canSend());
    m_sendBusy->setColor(AppStyle::secondary(this));
    m_sendBusy->setRunning(m.sending());
    m_error->setVisible(m.error().has_value());
    m_error->setText(m.error().value_or(QString()));
    m_info->setVisible(m.info().has_value());
    m_info->setText(m.info().value_or(QString()));
    m_loading->setVisible(m.loading());
    m_loadingBusy->setRunning(m.loading());
    m_scroll->setVisible(!m.loading());
    // Typing an address changes nothing listed: the rows (and a pointer on one) stay.
    if (m_renderedList != m.listVersion()) {
        m_renderedList = m.listVersion();
        renderList();
    }
}

void ShareSheet::renderList()
{
    auto *scroll = static_cast<QScrollArea *>(m_scroll);
    // The old list may hold the remove button whose click got us here.
    if (QWidget *old = scroll->takeWidget())
        old->deleteLater();
    m_list = new QWidget;
    auto *rows = new QVBoxLayout(m_list);
    rows->setContentsMargins(0, 0, 0, 0);
    rows->setSpacing(6);
    const auto caption = [this](const char *text) {
        auto *label = new QLabel(QString::fromLatin1(text));
        label->setFont(AppStyle::caption());
        label->setStyleSheet(colored(AppStyle::secondary(this)));
        return label;
    };
    const ShareSheetModel &m = *m_model;
    if (!m.shares().empty()) {
        rows->addWidget(caption(kHasAccess));
        for (const ShareItemDTO &s : m.shares())
            rows->addWidget(personRow(s.name, s.email, ShareSheetModel::effectiveRole(s.role, s.permissions),
                                      [model = QPointer(m_model), s] {
                                          if (model)
                                              model->revokeShare(s);
                                      }));
    }
    if (!m.invites().empty()) {
        QLabel *pending = caption(kPendingInvites);
        pending->setContentsMargins(0, 6, 0, 0);
        rows->addWidget(pending);
        for (const ShareInviteDTO &i : m.invites())
            rows->addWidget(personRow(QStringLiteral("(invited)"), i.email,
                                      ShareSheetModel::effectiveRole(i.role, i.permissions),
                                      [model = QPointer(m_model), i] {
                                          if (model)
                                              model->revokeInvite(i);
                                      }));
    }
    if (m.shares().empty() && m.invites().empty()) {
        auto *nobody = new QLabel(QString::fromLatin1(kNobody));
        nobody->setFont(AppStyle::callout());
        nobody->setStyleSheet(colored(AppStyle::secondary(this)));
        nobody->setContentsMargins(0, 8, 0, 8);
        rows->addWidget(nobody);
    }
    rows->addStretch(1);
    scroll->setWidget(m_list);
}

QWidget *ShareSheet::personRow(const QString &first, const QString &second, const QString &role,
                               std::function<void()> remove)
{
    auto *row = new QWidget;
    auto *line = new QHBoxLayout(row);
    line->setContentsMargins(0, 4, 0, 4);
    auto *texts = new QVBoxLayout;
    texts->setSpacing(2);
    auto *top = ShownText::label(first);
    QFont medium = top->font();
    medium.setWeight(QFont::Medium);
    top->setFont(medium);
    auto *bottom = ShownText::label(second);
    bottom->setFont(AppStyle::caption());
    bottom->setStyleSheet(colored(AppStyle::secondary(this)));
    texts->addWidget(top);
    texts->addWidget(bottom);
    line->addLayout(texts);
    line->addStretch(1);
    auto *chip = new QLabel(ShareSheetModel::roleLabel(role));
    chip->setObjectName(QStringLiteral("roleChip"));
    chip->setFont(AppStyle::caption());
    const QColor accent = AppStyle::accent(this);
    chip->setStyleSheet(
        QStringLiteral("QLabel { padding: 2px 8px; border-radius: 8px; background: rgba(%1,%2,%3,38); }")
            .arg(accent.red())
            .arg(accent.green())
            .arg(accent.blue()));
    line->addWidget(chip);
    auto *trash = new QToolButton;
    trash->setAutoRaise(true);
    trash->setIcon(SymbolIcons::icon(QStringLiteral("trash"), AppStyle::destructive()));
    trash->setToolTip(QStringLiteral("Remove"));
    connect(trash, &QToolButton::clicked, this, std::move(remove));
    line->addWidget(trash);
    return row;
}
