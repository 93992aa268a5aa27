#include "app/welcome_view.h"

#include "ui/app_style.h"
#include "ui/symbol_icons.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>

namespace {

const QString kTitle = QStringLiteral("Welcome to Penroost Derud");
const QString kTagline = QStringLiteral("A calm place to write, organize, and share.");
const QString kContinue = QStringLiteral("Get started");

constexpr int kPadding = 24;
constexpr int kLogoTop = 40;
const QSize kLogoBox{180, 110};
constexpr int kFeatureSpacing = 18;
constexpr int kFeatureSymbol = 22;
constexpr int kFeatureSymbolBox = 32;

QLabel *label(const QString &text, const QFont &font, QWidget *parent)
{
    auto *l = new QLabel(text, parent);
    l->setFont(font);
    l->setWordWrap(true);
    l->setTextInteractionFlags(Qt::NoTextInteraction);
    return l;
}

QString colorSheet(const QColor &color)
{
    return QStringLiteral("color: %1;").arg(AppStyle::css(color));
}

} // namespace

std::vector<WelcomeView::Feature> WelcomeView::makeFeatures()
{
    return {
        {QUuid::createUuid(), QStringLiteral("doc.richtext"), QStringLiteral("Write anything"),
         QStringLiteral(
             "Pages and nested blocks — text, headings, lists, code, tables, drawings, and more.")},
        {QUuid::createUuid(), QStringLiteral("arrow.triangle.2.circlepath"),
         QStringLiteral("Synced everywhere"),
         QStringLiteral("Your notes follow you across your devices. Works offline and catches up when "
                        "you're back online.")},
        {QUuid::createUuid(), QStringLiteral("person.2"), QStringLiteral("Share & publish"),
         QStringLiteral("Invite collaborators with roles, or publish a page to the web with one tap.")},
        {QUuid::createUuid(), QStringLiteral("sparkles"), QStringLiteral("Writing AI"),
         QStringLiteral("Summarize, continue, improve, or translate — right inside the page.")},
    };
}

WelcomeView::WelcomeView(std::function<void()> onContinue, QWidget *parent)
    : QWidget(parent)
    , m_onContinue(std::move(onContinue))
    , m_features(makeFeatures())
    , m_scroll(new QScrollArea(this))
    , m_column(new QWidget)
    , m_continue(new QPushButton(kContinue))
{
    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(0);

    // The scrolling part: one column at most 480 wide, centred.
    auto *page = new QWidget;
    auto *centring = new QHBoxLayout(page);
    centring->setContentsMargins(0, 0, 0, 0);
    centring->addStretch(1);
    centring->addWidget(m_column, 100);
    centring->addStretch(1);
    m_column->setMaximumWidth(kMaxWidth);

    auto *column = new QVBoxLayout(m_column);
    column->setContentsMargins(kPadding, kLogoTop, kPadding, kPadding);
    column->setSpacing(kPadding);

    auto *logo = new QLabel(m_column);
    logo->setObjectName(QStringLiteral("appLogo"));
    logo->setPixmap(SymbolIcons::logo(kLogoBox, devicePixelRatioF()));
    logo->setAlignment(Qt::AlignCenter);
    column->addWidget(logo, 0, Qt::AlignHCenter);

    auto *titles = new QVBoxLayout;
    titles->setSpacing(6);
    auto *title = label(kTitle, AppStyle::system(26, QFont::Bold), m_column);
    title->setAlignment(Qt::AlignCenter);
    auto *tagline = label(kTagline, AppStyle::callout(), m_column);
    tagline->setAlignment(Qt::AlignCenter);
    tagline->setStyleSheet(colorSheet(AppStyle::secondary(this)));
    titles->addWidget(title);
    titles->addWidget(tagline);
    column->addLayout(titles);

    auto *list = new QVBoxLayout;
    list->setContentsMargins(8, 8, 8, 0);
    list->setSpacing(kFeatureSpacing);
    for (const Feature &feature : m_features)
        list->addWidget(featureRow(feature));
    column->addLayout(list);
    column->addStretch(1);

    m_scroll->setObjectName(QStringLiteral("welcomeScroll"));
    m_scroll->setWidget(page);
    AppStyle::makeVerticalScroll(m_scroll);
    m_scroll->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    outer->addWidget(m_scroll, 1);

    // Always visible below the scrolling part; with its padding at most 480 wide.
    auto *footer = new QWidget(this);
    footer->setMaximumWidth(kMaxWidth);
    auto *footerLayout = new QVBoxLayout(footer);
    footerLayout->setContentsMargins(kPadding, 0, kPadding, kPadding);
    AppStyle::makeProminent(m_continue);
    m_continue->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    footerLayout->addWidget(m_continue);
    auto *footerRow = new QHBoxLayout;
    footerRow->addStretch(1);
    footerRow->addWidget(footer, 100);
    footerRow->addStretch(1);
    outer->addLayout(footerRow);

    connect(m_continue, &QPushButton::clicked, this, [this] {
        if (m_onContinue)
            m_onContinue();
    });
}

QWidget *WelcomeView::featureRow(const Feature &feature)
{
    auto *row = new QWidget(m_column);
    row->setObjectName(QStringLiteral("feature"));
    auto *layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(14);
    layout->setAlignment(Qt::AlignTop);

    auto *symbol = new QLabel(row);
    symbol->setObjectName(QStringLiteral("featureSymbol"));
    symbol->setProperty("symbol", feature.icon);
    symbol->setFixedWidth(kFeatureSymbolBox);
    symbol->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    symbol->setPixmap(
        SymbolIcons::pixmap(feature.icon, kFeatureSymbol, AppStyle::accent(this), devicePixelRatioF()));
    layout->addWidget(symbol, 0, Qt::AlignTop);

    auto *texts = new QVBoxLayout;
    texts->setSpacing(2);
    auto *title = label(feature.title, AppStyle::headline(), row);
    title->setObjectName(QStringLiteral("featureTitle"));
    auto *detail = label(feature.detail, AppStyle::callout(), row);
    detail->setObjectName(QStringLiteral("featureDetail"));
    detail->setStyleSheet(colorSheet(AppStyle::secondary(this)));
    texts->addWidget(title);
    texts->addWidget(detail);
    layout->addLayout(texts, 1);
    return row;
}
