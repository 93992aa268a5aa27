#include "collab/ai_panel.h"

#include "collab/ai_panel_model.h"
#include "collab/inline_markdown.h"
#include "platform/url_opener.h"
#include "ui/app_style.h"
#include "ui/busy_indicator.h"
#include "ui/editor_symbols.h"
#include "ui/single_press.h"
#include "ui/symbol_icons.h"

#include <QComboBox>
#include <QEvent>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

constexpr int kChipIcon = 15;
constexpr int kSpinnerSize = 14;

QColor withAlpha(QColor color, qreal alpha)
{
    color.setAlphaF(alpha);
    return color;
}

QPushButton *smallButton(const char *text, QWidget *parent)
{
    auto *button = new QPushButton(QString::fromLatin1(text), parent);
    button->setAutoDefault(false);
    button->setFont(AppStyle::callout());
    return button;
}

} // namespace

AIPanel::AIPanel(ServiceClient &client, std::function<qint64()> pageServerID,
                 const std::optional<QString> &seedPrompt, Services services, std::function<void()> onClose,
                 QWidget *parent)
    : QWidget(parent)
    , m_model(new AIPanelModel(client, std::move(pageServerID), this))
    , m_services(services)
{
    setFixedWidth(kWidth);
    setAutoFillBackground(true);
    setBackgroundRole(QPalette::Window);
    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(14, 14, 14, 14);
    column->setSpacing(12);

    auto *header = new QHBoxLayout;
    auto *symbol = new QLabel(this);
    symbol->setPixmap(
        SymbolIcons::pixmap(QStringLiteral("sparkles"), 16, AppStyle::accent(this), devicePixelRatioF()));
    auto *title = new QLabel(QString::fromLatin1(kTitle), this);
    title->setFont(AppStyle::headline());
    m_badge = new QLabel(this);
    m_badge->setFont(AppStyle::caption());
    m_badge->setStyleSheet(QStringLiteral("color: %1; background: %2; border-radius: 8px; padding: 1px 7px;")
                               .arg(AppStyle::css(AppStyle::secondary(this)),
                                    AppStyle::css(withAlpha(AppStyle::secondary(this), 0.15))));
    m_close = new QToolButton(this);
    m_close->setIcon(SymbolIcons::icon(QStringLiteral("xmark.circle.fill"), AppStyle::secondary(this)));
    m_close->setAutoRaise(true);
    m_close->setToolTip(QStringLiteral("Close"));
    connect(m_close, &QToolButton::clicked, this, [onClose = std::move(onClose)] {
        if (onClose)
            onClose();
    });
    header->addWidget(symbol);
    header->addWidget(title);
    header->addStretch(1);
    header->addWidget(m_badge);
    header->addWidget(m_close);
    column->addLayout(header);

    auto *grid = new QGridLayout;
    grid->setHorizontalSpacing(6);
    grid->setVerticalSpacing(6);
    int index = 0;
    for (const AIPanelModel::Action &action : AIPanelModel::actions()) {
        auto *chip = new QToolButton(this);
        chip->setText(QString::fromLatin1(action.label));
        chip->setToolTip(QString::fromLatin1(action.hint));
        chip->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
        chip->setIconSize(QSize(kChipIcon, kChipIcon));
        chip->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
        chip->setCursor(Qt::PointingHandCursor);
        chip->setProperty("actionId", QString::fromLatin1(action.id));
        connect(chip, &QToolButton::clicked, this,
                [this, id = QString::fromLatin1(action.id)] { m_model->setAction(id); });
        grid->addWidget(chip, index / 2, index % 2);
        m_chips.append(chip);
        ++index;
    }
    column->addLayout(grid);

    m_translateRow = new QWidget(this);
    auto *translate = new QHBoxLayout(m_translateRow);
    translate->setContentsMargins(0, 0, 0, 0);
    auto *translateTo = new QLabel(QStringLiteral("Translate to"), m_translateRow);
    translateTo->setStyleSheet(QStringLiteral("color: %1;").arg(AppStyle::css(AppStyle::secondary(this))));
    m_language = new QComboBox(m_translateRow);
    m_language->addItems(AIPanelModel::languages());
    connect(m_language, &QComboBox::currentTextChanged, m_model, &AIPanelModel::setTranslateLang);
    translate->addWidget(translateTo);
    translate->addWidget(m_language, 1);
    column->addWidget(m_translateRow);

    m_prompt = new QPlainTextEdit(this);
    m_prompt->setTabChangesFocus(true);
    m_prompt->setMinimumHeight(70);
    m_prompt->setMaximumHeight(140);
    connect(m_prompt, &QPlainTextEdit::textChanged, this,
            [this] { m_model->setPrompt(m_prompt->toPlainText()); });
    column->addWidget(m_prompt);

    m_run = new QPushButton(this);
    AppStyle::makeProminent(m_run);
    m_run->setMinimumHeight(38);
    m_run->setIconSize(QSize(16, 16));
    m_busy = new BusyIndicator(kSpinnerSize, this);
    connect(m_busy, &BusyIndicator::frameChanged, this, [this] {
        if (m_model->isLoading())
            m_run->setIcon(m_busy->frame(devicePixelRatioF()));
    });
    connect(m_run, &QPushButton::clicked, this, [this] { m_model->run(); });
    takeDoubleClickAsOnePress(*m_run);
    column->addWidget(m_run);

    m_error = AppStyle::errorLabel(this);
    m_error->setTextFormat(Qt::PlainText); // the service's words are never markup
    m_error->setTextInteractionFlags(Qt::TextSelectableByMouse);
    column->addWidget(m_error);

    m_resultArea = new QWidget(this);
    auto *resultColumn = new QVBoxLayout(m_resultArea);
    resultColumn->setContentsMargins(0, 0, 0, 0);
    resultColumn->setSpacing(6);
    m_resultScroll = new QScrollArea(m_resultArea);
    AppStyle::makeVerticalScroll(m_resultScroll);
    auto *frame = new QFrame;
    m_resultFrame = frame;
    frame->setObjectName(QStringLiteral("aiResult"));
    frame->setStyleSheet(QStringLiteral("#aiResult { background: %1; border-radius: 6px; }")
                             .arg(AppStyle::css(withAlpha(AppStyle::secondary(this), 0.08))));
    auto *frameLayout = new QVBoxLayout(frame);
    frameLayout->setContentsMargins(10, 10, 10, 10);
    m_result = new QLabel(frame);
    m_result->setTextFormat(Qt::RichText);
    m_result->setWordWrap(true);
    m_result->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_result->setTextInteractionFlags(Qt::TextBrowserInteraction);
    m_result->setOpenExternalLinks(false);
    connect(m_result, &QLabel::linkActivated, this, &AIPanel::openLink);
    frameLayout->addWidget(m_result);
    frameLayout->addStretch(1);
    m_resultScroll->setWidget(frame);
    m_resultScroll->viewport()->installEventFilter(this);
    resultColumn->addWidget(m_resultScroll, 1);
    auto *resultButtons = new QHBoxLayout;
    m_copy = smallButton("Copy", m_resultArea);
    connect(m_copy, &QPushButton::clicked, this, [this] {
        if (m_services.clipboard)
            m_model->copyResult(*m_services.clipboard);
    });
    m_clear = smallButton("Clear", m_resultArea);
    connect(m_clear, &QPushButton::clicked, m_model, &AIPanelModel::clearResult);
    resultButtons->addWidget(m_copy);
    resultButtons->addWidget(m_clear);
    resultButtons->addStretch(1);
    resultColumn->addLayout(resultButtons);
    // Copy and Clear stay right under a short answer.
    resultColumn->addStretch(0);
    // The answer takes the height; without one the space stays empty below Run.
    column->addWidget(m_resultArea, 100);
    column->addStretch(1);

    connect(m_model, &AIPanelModel::changed, this, &AIPanel::render);
    applySeedPrompt(seedPrompt);
}

void AIPanel::applySeedPrompt(const std::optional<QString> &seedPrompt)
{
    m_model->applySeedPrompt(seedPrompt);
    render();
    // Opened to ask something: the next keystroke belongs in the question.
    QTimer::singleShot(0, this, [this] {
        if (m_prompt->isVisible())
            m_prompt->setFocus(Qt::OtherFocusReason);
    });
}

bool AIPanel::eventFilter(QObject *watched, QEvent *event)
{
    // A new width wraps the answer anew.
    if (watched == m_resultScroll->viewport() && event->type() == QEvent::Resize)
        fitResult();
    return QWidget::eventFilter(watched, event);
}

void AIPanel::fitResult()
{
    const int width = m_resultScroll->viewport()->width();
    const int height = m_resultFrame->hasHeightForWidth() ? m_resultFrame->heightForWidth(width)
                                                          : m_resultFrame->sizeHint().height();
    m_resultScroll->setMaximumHeight(height + 2 * m_resultScroll->frameWidth());
}

void AIPanel::render()
{
    const AIPanelModel &model = *m_model;
    const std::optional<QString> badge = model.badgeText();
    m_badge->setVisible(badge.has_value());
    m_badge->setText(badge.value_or(QString()));

    const QColor accent = AppStyle::accent(this);
    const QColor primary = palette().color(QPalette::WindowText);
    for (QToolButton *chip : std::as_const(m_chips)) {
        const QString id = chip->property("actionId").toString();
        const bool selected = id == model.action();
        const QColor text = selected ? accent : primary;
        const QColor fill = selected ? withAlpha(accent, 0.18) : withAlpha(AppStyle::secondary(this), 0.08);
        chip->setStyleSheet(QStringLiteral("QToolButton { color: %1; background: %2; border: none; "
                                           "border-radius: 6px; padding: 6px 8px; text-align: left; }")
                                .arg(AppStyle::css(text), AppStyle::css(fill)));
        for (const AIPanelModel::Action &action : AIPanelModel::actions()) {
            if (id == QLatin1String(action.id))
                chip->setIcon(EditorSymbols::icon(QString::fromLatin1(action.icon), text));
        }
    }

    m_translateRow->setVisible(model.action() == QLatin1String(AIPanelModel::kTranslate));
    if (m_language->currentText() != model.translateLang())
        m_language->setCurrentText(model.translateLang());
    m_prompt->setVisible(model.showsPrompt());
    m_prompt->setPlaceholderText(model.promptPlaceholder());
    if (m_prompt->toPlainText() != model.prompt())
        m_prompt->setPlainText(model.prompt());

    m_busy->setRunning(model.isLoading());
    if (model.isLoading()) {
        m_run->setText(QStringLiteral("Thinking..."));
        m_run->setIcon(m_busy->frame(devicePixelRatioF()));
    } else {
        m_run->setText(QStringLiteral("Run"));
        m_run->setIcon(SymbolIcons::icon(QStringLiteral("arrow.up.circle.fill"),
                                         m_run->palette().color(QPalette::HighlightedText)));
    }
    m_run->setEnabled(model.canRun());

    m_error->setVisible(model.error().has_value());
    m_error->setText(model.error().value_or(QString()));

    m_resultArea->setVisible(!model.result().isEmpty());
    if (m_shownResult != model.result()) {
        m_shownResult = model.result();
        m_result->setText(InlineMarkdown::toHtml(m_shownResult));
        fitResult();
    }
}

void AIPanel::openLink(const QString &link)
{
    if (m_services.urlOpener)
        m_services.urlOpener->openUrl(QUrl(link, QUrl::StrictMode));
}
