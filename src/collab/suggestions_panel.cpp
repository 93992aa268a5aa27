#include "collab/suggestions_panel.h"

#include "collab/panel_header.h"
#include "collab/suggestions_panel_model.h"
#include "store/sync_engine.h"
#include "ui/app_style.h"
#include "ui/busy_indicator.h"
#include "ui/empty_state_view.h"
#include "ui/shown_text.h"
#include "ui/symbol_icons.h"

#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QStackedWidget>
#include <QTextLayout>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

constexpr int kPadding = 14;
constexpr int kCardPadding = 8;
constexpr int kPreviewPadding = 6;
constexpr int kSpinnerSize = 24;
constexpr int kButtonSpinnerSize = 12;
const char *const kIDProperty = "suggestionID";

QLabel *plainLabel(const QString &text, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText); // text from the service is never markup
    return label;
}

} // namespace

SuggestionsPanel::SuggestionsPanel(ServiceClient &client, SyncEngine *engine,
                                   std::function<qint64()> pageServerID, std::function<void()> onClose,
                                   QWidget *parent)
    : QWidget(parent)
    , m_model(new SuggestionsPanelModel(client, engine, std::move(pageServerID), this))
    , m_busy(new BusyIndicator(kButtonSpinnerSize, this))
{
    setFixedWidth(kWidth);
    setAutoFillBackground(true);
    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(kPadding, kPadding, kPadding, kPadding);
    column->setSpacing(10);

    const PanelHeader header =
        PanelHeader::make(this, QStringLiteral("checkmark.bubble"), QString::fromUtf8(kTitle));
    m_reload = header.reload;
    m_close = header.close;
    column->addLayout(header.layout);

    QLabel *note = plainLabel(QString::fromUtf8(kNote), this);
    note->setWordWrap(true);
    note->setFont(AppStyle::caption());
    note->setStyleSheet(QStringLiteral("color: %1;").arg(AppStyle::css(AppStyle::secondary(this))));
    column->addWidget(note);

    m_area = new QStackedWidget(this);
    m_spinner = new QWidget(m_area);
    auto *spinnerLayout = new QVBoxLayout(m_spinner);
    auto *spinnerLabel = new QLabel(m_spinner);
    spinnerLabel->setFixedSize(kSpinnerSize, kSpinnerSize);
    spinnerLayout->addWidget(spinnerLabel, 0, Qt::AlignCenter);
    auto *bigBusy = new BusyIndicator(kSpinnerSize, this);
    bigBusy->setColor(AppStyle::secondary(this));
    bigBusy->setRunning(true);
    bigBusy->showIn(spinnerLabel);

    auto *errorPage = new QWidget(m_area);
    auto *errorLayout = new QVBoxLayout(errorPage);
    errorLayout->setContentsMargins(0, 0, 0, 0);
    m_error = AppStyle::errorLabel(errorPage);
    m_error->setTextFormat(Qt::PlainText); // the service's words are never markup
    m_error->setFont(AppStyle::callout());
    m_error->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    errorLayout->addWidget(m_error);
    errorLayout->addStretch(1);

    m_empty = new EmptyStateView(QStringLiteral("checkmark.bubble"), QString::fromUtf8(kEmptyTitle),
                                 QString::fromUtf8(kEmptyDescription), std::nullopt, {}, m_area);
    m_scroll = new QScrollArea(m_area);
    AppStyle::makeVerticalScroll(m_scroll);
    m_listHolder = new QWidget(m_scroll);
    m_list = new QVBoxLayout(m_listHolder);
    m_list->setContentsMargins(0, 0, 0, 0);
    m_list->setSpacing(8);
    m_list->addStretch(1);
    m_scroll->setWidget(m_listHolder);
    m_area->addWidget(m_spinner);
    m_area->addWidget(errorPage);
    m_area->addWidget(m_empty);
    m_area->addWidget(m_scroll);
    column->addWidget(m_area, 1);

    m_busy->setColor(AppStyle::secondary(this));
    connect(m_busy, &BusyIndicator::frameChanged, this, &SuggestionsPanel::renderActing);
    connect(m_model, &SuggestionsPanelModel::changed, this, &SuggestionsPanel::render);
    connect(m_reload, &QToolButton::clicked, this, [this] { m_model->loadSuggestions(); });
    connect(m_close, &QToolButton::clicked, this, [onClose = std::move(onClose)] {
        if (onClose)
            onClose();
    });
    render();
    m_model->loadSuggestions();
}

QWidget *SuggestionsPanel::shownArea() const
{
    return m_area->currentWidget();
}

QWidget *SuggestionsPanel::list() const
{
    return m_scroll;
}

QList<QWidget *> SuggestionsPanel::cards() const
{
    QList<QWidget *> out;
    for (int i = 0; i < m_list->count(); ++i) {
        if (QWidget *w = m_list->itemAt(i)->widget())
            out << w;
    }
    return out;
}

QString SuggestionsPanel::elidedToLines(const QString &text, const QFont &font, int width, int lines)
{
    QTextLayout layout(text, font);
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    layout.beginLayout();
    int count = 0;
    qsizetype lastStart = 0;
    bool cut = false;
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(width);
        if (count == lines) {
            cut = true;
            break;
        }
        lastStart = line.textStart();
        ++count;
    }
    layout.endLayout();
    if (!cut)
        return text;
    // The last kept line takes the rest, squeezed into one line that ends in an ellipsis.
    const QFontMetrics metrics(font);
    QString last = text.mid(lastStart);
    last.replace(u'\n', u' ');
    const QString kept = text.left(lastStart);
    QString tail = metrics.elidedText(last + QStringLiteral("\u2026"), Qt::ElideRight, width);
    if (!tail.endsWith(u'\u2026'))
        tail = metrics.elidedText(last, Qt::ElideRight, width - metrics.horizontalAdvance(u'\u2026')) +
               u'\u2026';
    return kept + tail;
}

QWidget *SuggestionsPanel::card(const SuggestionDTO &suggestion, QWidget *parent)
{
    auto *card = new QFrame(parent);
    card->setObjectName(QStringLiteral("suggestionCard"));
    card->setProperty(kIDProperty, suggestion.id);
    card->setStyleSheet(
        QStringLiteral("#suggestionCard { background: rgba(128,128,128,13); border-radius: 6px; }"));
    auto *column = new QVBoxLayout(card);
    column->setContentsMargins(kCardPadding, kCardPadding, kCardPadding, kCardPadding);
    column->setSpacing(6);

    const QString secondary = QStringLiteral("color: %1;").arg(AppStyle::css(AppStyle::secondary(this)));
    const QString tertiary = QStringLiteral("color: %1;").arg(AppStyle::css(AppStyle::tertiary(this)));
    auto *top = new QHBoxLayout;
    top->setSpacing(5);
    auto *icon = new QLabel(card);
    icon->setObjectName(QStringLiteral("kindIcon"));
    const QString iconName = SuggestionsPanelModel::kindIcon(suggestion.kind);
    icon->setProperty("symbol", iconName);
    icon->setPixmap(SymbolIcons::pixmap(iconName, 14, AppStyle::secondary(this), devicePixelRatioF()));
    QLabel *author = plainLabel(SuggestionsPanelModel::author(suggestion), card);
    author->setObjectName(QStringLiteral("author"));
    QFont medium = author->font();
    medium.setWeight(QFont::Medium);
    author->setFont(medium);
    QLabel *dot = plainLabel(QStringLiteral("\u00B7"), card);
    dot->setStyleSheet(tertiary);
    QLabel *kind = plainLabel(SuggestionsPanelModel::kindLabel(suggestion.kind), card);
    kind->setObjectName(QStringLiteral("kind"));
    kind->setFont(AppStyle::caption());
    kind->setStyleSheet(secondary);
    QLabel *date = plainLabel(SuggestionsPanelModel::date(suggestion), card);
    date->setObjectName(QStringLiteral("date"));
    date->setFont(AppStyle::caption());
    date->setStyleSheet(tertiary);
    top->addWidget(icon);
    top->addWidget(author);
    top->addWidget(dot);
    top->addWidget(kind);
    top->addStretch(1);
    top->addWidget(date);
    column->addLayout(top);

    if (const std::optional<QString> preview = SuggestionsPanelModel::payloadPreview(suggestion)) {
        // The label's text document keeps a small margin inside the box's padding.
        constexpr int kDocumentMargin = 4;
        const int textWidth =
            kWidth - 2 * kPadding - 2 * kCardPadding - 2 * kPreviewPadding - 2 * kDocumentMargin;
        const QFont font = AppStyle::callout();
        QLabel *box = plainLabel(elidedToLines(*preview, font, textWidth, kPreviewLines), card);
        box->setObjectName(QStringLiteral("preview"));
        box->setFont(font);
        box->setWordWrap(true);
        box->setToolTip(ShownText::toolTip(*preview));
        box->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        box->setStyleSheet(QStringLiteral("QLabel#preview { background: rgba(128,128,128,20); "
                                          "border-radius: 5px; padding: %1px; }")
                               .arg(kPreviewPadding));
        column->addWidget(box);
    }

    auto *buttons = new QHBoxLayout;
    buttons->addStretch(1);
    auto *reject = new QPushButton(QString::fromUtf8(kReject), card);
    reject->setObjectName(QStringLiteral("reject"));
    AppStyle::makeDestructive(reject);
    auto *accept = new QPushButton(QString::fromUtf8(kAccept), card);
    accept->setObjectName(QStringLiteral("accept"));
    AppStyle::makeProminent(accept);
    accept->setAutoDefault(false);
    // The spinner that stands in for a label must not make the buttons jump.
    reject->setMinimumWidth(reject->sizeHint().width());
    accept->setMinimumWidth(accept->sizeHint().width());
    buttons->addWidget(reject);
    buttons->addWidget(accept);
    column->addLayout(buttons);

    const qint64 id = suggestion.id;
    const auto decide = [this, id](bool yes) {
        // The card may be gone by the time the click lands; decide on what the list holds now.
        for (const SuggestionDTO &s : m_model->items()) {
            if (s.id == id) {
                m_model->decide(s, yes);
                return;
            }
        }
    };
    connect(reject, &QPushButton::clicked, this, [decide] { decide(false); });
    connect(accept, &QPushButton::clicked, this, [decide] { decide(true); });
    return card;
}

void SuggestionsPanel::render()
{
    const SuggestionsPanelModel &model = *m_model;
    if (m_renderedVersion != model.listVersion())
        renderList();
    if (model.isLoading())
        m_area->setCurrentWidget(m_spinner);
    else if (model.error())
        m_area->setCurrentWidget(m_error->parentWidget());
    else if (model.items().empty())
        m_area->setCurrentWidget(m_empty);
    else
        m_area->setCurrentWidget(m_scroll);
    m_error->setText(model.error().value_or(QString()));
    m_busy->setRunning(model.actingID().has_value());
    renderActing();
}

void SuggestionsPanel::renderActing()
{
    const std::optional<qint64> acting = m_model->actingID();
    for (QWidget *card : cards()) {
        const bool busy = acting && card->property(kIDProperty).toLongLong() == *acting;
        for (QPushButton *button : card->findChildren<QPushButton *>()) {
            const bool isAccept = button->objectName() == QLatin1String("accept");
            button->setText(busy ? QString() : QString::fromUtf8(isAccept ? kAccept : kReject));
            button->setIcon(busy ? m_busy->frame(devicePixelRatioF()) : QIcon());
        }
    }
}

void SuggestionsPanel::renderList()
{
    while (m_list->count() > 1) {
        QLayoutItem *item = m_list->takeAt(0);
        delete item->widget();
        delete item;
    }
    int index = 0;
    for (const SuggestionDTO &suggestion : m_model->items())
        m_list->insertWidget(index++, card(suggestion, m_listHolder));
    m_renderedVersion = m_model->listVersion();
}
