#include "collab/publish_sheet.h"

#include "collab/sheet_header.h"
#include "ui/app_context.h"
#include "ui/app_style.h"
#include "ui/busy_indicator.h"
#include "ui/clamped_text.h"
#include "ui/shown_text.h"
#include "ui/symbol_icons.h"

#include <QCheckBox>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

constexpr int kWidth = 460;
// A small spinner at 70 %.
constexpr int kButtonSpinnerSize = 11;
constexpr int kRowSpacing = 6;

QLabel *sectionLabel(const QString &text, QWidget *parent)
{
    auto *label = new QLabel(text.toUpper(), parent);
    label->setFont(AppStyle::caption());
    label->setStyleSheet(QStringLiteral("color: %1;").arg(AppStyle::css(AppStyle::secondary(parent))));
    return label;
}

// Monospaced text on a lightly tinted rounded box, 8 px inside it.
void makeCodeBox(QLabel *label, const QFont &size)
{
    QFont mono = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    mono.setPointSizeF(size.pointSizeF());
    label->setFont(mono);
    label->setContentsMargins(8, 8, 8, 8);
    label->setStyleSheet(QStringLiteral("QLabel { border-radius: 6px; background: rgba(128,128,128,20); }"));
}

} // namespace

PublishSheet::PublishSheet(const AppContext &context, const FNPage &page, QWidget *parent)
    : QDialog(parent)
    , m_model(new PublishSheetModel({context.client, context.store, context.clipboard, context.urlOpener},
                                    page.serverID, PublishSheetModel::kCopiedFor, this))
{
    setWindowTitle(QString::fromLatin1(kPublishTitle));
    setFixedWidth(kWidth);
    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(20, 20, 20, 20);
    column->setSpacing(14);
    const SheetHeader header =
        SheetHeader::make(this, QStringLiteral("globe"), QString::fromLatin1(kPublishTitle));
    m_title = header.title;
    column->addLayout(header.layout);

    const SheetSpinner spinner = SheetSpinner::make(this);
    m_loadingBusy = spinner.busy;
    m_loading = spinner.area;
    column->addWidget(m_loading);

    // Without the page's current settings the form would send defaults over them: only the reason
    // and a way to read them again.
    m_loadFailed = new QWidget(this);
    auto *failed = new QVBoxLayout(m_loadFailed);
    failed->setContentsMargins(0, 0, 0, 0);
    failed->setSpacing(14);
    m_loadError = AppStyle::errorLabel(m_loadFailed);
    failed->addWidget(m_loadError);
    m_tryAgain = new QPushButton(QString::fromLatin1(PublishSheetModel::kTryAgain), m_loadFailed);
    m_tryAgain->setAutoDefault(false);
    failed->addWidget(m_tryAgain, 0, Qt::AlignRight);
    column->addWidget(m_loadFailed);

    m_form = new QWidget(this);
    auto *form = new QVBoxLayout(m_form);
    form->setContentsMargins(0, 0, 0, 0);
    form->setSpacing(14);
    column->addWidget(m_form);

    m_urlGroup = new QWidget(m_form);
    auto *group = new QVBoxLayout(m_urlGroup);
    group->setContentsMargins(0, 0, 0, 0);
    group->setSpacing(10);
    group->addWidget(sectionLabel(QStringLiteral("Public URL"), m_urlGroup));
    auto *urlRow = new QHBoxLayout;
    urlRow->setSpacing(kRowSpacing);
    m_urlText = ShownText::label({}, m_urlGroup);
    makeCodeBox(m_urlText, AppStyle::callout());
    m_urlText->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_copyURL = new QPushButton(QStringLiteral("Copy"), m_urlGroup);
    // Return in the password field does nothing: no button of the sheet may be the default.
    m_copyURL->setAutoDefault(false);
    auto *open = new QToolButton(m_urlGroup);
    open->setAutoRaise(true);
    open->setIcon(SymbolIcons::icon(QStringLiteral("arrow.up.right.square"), AppStyle::accent(this)));
    open->setToolTip(QStringLiteral("Open in browser"));
    urlRow->addWidget(m_urlText, 1);
    urlRow->addWidget(m_copyURL);
    urlRow->addWidget(open);
    group->addLayout(urlRow);
    // The URL gets the row's room left of its buttons, whichever label the copy button shows.
    m_copyURL->setText(QStringLiteral("Copied!"));
    m_urlWidth =
        kWidth - 2 * 20 - 2 * 8 - m_copyURL->sizeHint().width() - open->sizeHint().width() - 2 * kRowSpacing;
    m_urlText->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    group->addWidget(sectionLabel(QStringLiteral("Embed (iframe)"), m_urlGroup));
    auto *embedRow = new QHBoxLayout;
    m_snippet = new ClampedText(2, m_urlGroup);
    makeCodeBox(m_snippet, AppStyle::caption());
    m_snippet->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto *copyEmbed = new QPushButton(QStringLiteral("Copy"), m_urlGroup);
    copyEmbed->setAutoDefault(false);
    embedRow->addWidget(m_snippet, 1);
    embedRow->addWidget(copyEmbed, 0, Qt::AlignTop);
    group->addLayout(embedRow);
    form->addWidget(m_urlGroup);
    m_views = new QLabel(m_form);
    m_views->setFont(AppStyle::caption());
    m_views->setStyleSheet(QStringLiteral("color: %1;").arg(AppStyle::css(AppStyle::secondary(this))));
    form->addWidget(m_views);

    m_password = new QLineEdit(m_form);
    m_password->setEchoMode(QLineEdit::Password);
    m_password->setPlaceholderText(QStringLiteral("Password (optional, leave blank for no password)"));
    m_hint = new QLabel(
        QStringLiteral("A password is currently set. Leave blank to keep it; type a new one to change."),
        m_form);
    m_hint->setWordWrap(true);
    m_hint->setFont(AppStyle::caption());
    m_hint->setStyleSheet(m_views->styleSheet());
    m_comments = new QCheckBox(QStringLiteral("Allow comments"), m_form);
    m_subpages = new QCheckBox(QStringLiteral("Include subpages in navigation"), m_form);
    form->addWidget(m_password);
    form->addWidget(m_hint);
    form->addWidget(m_comments);
    form->addWidget(m_subpages);

    m_error = AppStyle::errorLabel(m_form);
    form->addWidget(m_error);

    auto *buttons = new QHBoxLayout;
    m_unpublish = new QPushButton(QStringLiteral("Unpublish"), m_form);
    AppStyle::makeDestructive(m_unpublish);
    m_primary = new QPushButton(m_form);
    m_primary->setIconSize(QSize(kButtonSpinnerSize, kButtonSpinnerSize));
    m_savingBusy = new BusyIndicator(kButtonSpinnerSize, this);
    connect(m_savingBusy, &BusyIndicator::frameChanged, this, [this] {
        m_primary->setIcon(m_savingBusy->isRunning() ? m_savingBusy->frame(devicePixelRatioF()) : QIcon());
    });
    m_primary->setDefault(false);
    m_primary->setAutoDefault(false);
    QFont semibold = m_primary->font();
    semibold.setWeight(QFont::DemiBold);
    m_primary->setFont(semibold);
    buttons->addWidget(m_unpublish);
    buttons->addStretch(1);
    buttons->addWidget(m_primary);
    form->addLayout(buttons);

    if (page.serverID == 0) {
        auto *notSynced = new QLabel(QString::fromLatin1(kNotSynced), m_form);
        notSynced->setWordWrap(true);
        notSynced->setFont(AppStyle::caption());
        notSynced->setStyleSheet(QStringLiteral("color: orange;"));
        form->addWidget(notSynced);
    }
    column->addStretch(1);

    connect(m_copyURL, &QPushButton::clicked, this,
            [this] { m_model->copyURL(m_model->url().value_or(QString())); });
    connect(open, &QToolButton::clicked, this,
            [this] { m_model->openInBrowser(m_model->url().value_or(QString())); });
    connect(copyEmbed, &QPushButton::clicked, this,
            [this] { m_model->copyEmbed(m_model->url().value_or(QString())); });
    connect(m_password, &QLineEdit::textEdited, m_model, &PublishSheetModel::setPassword);
    connect(m_comments, &QCheckBox::toggled, m_model, &PublishSheetModel::setAllowComments);
    connect(m_subpages, &QCheckBox::toggled, m_model, &PublishSheetModel::setIncludeSubpages);
    connect(m_primary, &QPushButton::clicked, m_model, &PublishSheetModel::publish);
    connect(m_unpublish, &QPushButton::clicked, m_model, &PublishSheetModel::unpublish);
    connect(m_tryAgain, &QPushButton::clicked, m_model, &PublishSheetModel::loadStatus);
    connect(m_model, &PublishSheetModel::changed, this, &PublishSheet::render);
    render();
    m_model->loadStatus();
}

void PublishSheet::render()
{
    const PublishSheetModel &m = *m_model;
    m_title->setText(QString::fromLatin1(m.published() ? kPublishedTitle : kPublishTitle));
    m_loading->setVisible(m.loading());
    m_loadingBusy->setRunning(m.loading());
    const bool readFailed = !m.loading() && m.loadError().has_value();
    m_loadFailed->setVisible(readFailed);
    m_loadError->setText(m.loadError().value_or(QString()));
    m_form->setVisible(!m.loading() && !readFailed);
    const bool showsURL = m.published() && m.url().has_value();
    m_urlGroup->setVisible(showsURL);
    if (showsURL) {
        m_urlText->setText(m_urlText->fontMetrics().elidedText(*m.url(), Qt::ElideMiddle, m_urlWidth));
        m_urlText->setToolTip(ShownText::toolTip(*m.url()));
        m_snippet->setFullText(PublishSheetModel::embedSnippet(*m.url()));
    }
    m_copyURL->setText(m.copied() ? QStringLiteral("Copied!") : QStringLiteral("Copy"));
    const auto views = PublishSheetModel::viewLine(m.viewCount());
    m_views->setVisible(showsURL && views.has_value());
    m_views->setText(views.value_or(QString()));
    if (m_password->text() != m.password())
        m_password->setText(m.password());
    m_hint->setVisible(m.showsPasswordHint());
    const QSignalBlocker blockComments(m_comments);
    const QSignalBlocker blockSubpages(m_subpages);
    m_comments->setChecked(m.allowComments());
    m_subpages->setChecked(m.includeSubpages());
    m_error->setVisible(m.error().has_value());
    m_error->setText(m.error().value_or(QString()));
    m_unpublish->setVisible(m.published());
    m_primary->setText(m.published() ? QStringLiteral("Save changes") : QStringLiteral("Publish"));
    m_savingBusy->setColor(AppStyle::secondary(this));
    m_savingBusy->setRunning(m.saving());
    m_primary->setEnabled(m.canPublish());
    fitHeight();
}

void PublishSheet::fitHeight()
{
    // The width is fixed, so the height is what the wrapped texts need at that width. adjustSize
    // would cap a window at two thirds of the screen and lay the texts out for their natural width.
    // What was just shown or hidden inside the form reaches this layout only with the next layout
    // pass; until then it would answer with the sizes it cached before.
    m_urlGroup->updateGeometry();
    m_form->updateGeometry();
    m_loadFailed->updateGeometry();
    QLayout *column = layout();
    column->activate();
    const int height =
        column->hasHeightForWidth() ? column->totalHeightForWidth(kWidth) : column->totalSizeHint().height();
    const int before = this->height();
    setFixedHeight(height);
    if (!isVisible() || height == before || !screen())
        return;
    // Placed while it was loading, the sheet grows about its middle and stays on the screen.
    const QRect room = screen()->availableGeometry();
    const QRect frame = frameGeometry();
    int top = frame.top() - (height - before) / 2;
    top = std::min(top, room.bottom() + 1 - (frame.height() + height - before));
    top = std::max(top, room.top());
    move(frame.left(), top);
}
