#include "ui/empty_state_view.h"

#include "ui/app_style.h"
#include "ui/shown_text.h"
#include "ui/symbol_icons.h"

#include <QEvent>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

constexpr int kSymbolSize = 36;
constexpr int kSpacing = 10;
constexpr int kSubtitleMargin = 24;
constexpr int kButtonGap = 6;
constexpr int kVerticalPadding = 32;

} // namespace

EmptyStateView::EmptyStateView(const QString &icon, const QString &title, std::optional<QString> subtitle,
                               std::optional<QString> actionTitle, std::function<void()> action,
                               QWidget *parent)
    : QWidget(parent)
    , m_icon(icon)
    , m_symbol(new QLabel(this))
    , m_title(ShownText::label(title, this))
{
    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(0, kVerticalPadding, 0, kVerticalPadding);
    column->setSpacing(kSpacing);
    column->addStretch(1);

    m_symbol->setAlignment(Qt::AlignCenter);
    column->addWidget(m_symbol, 0, Qt::AlignHCenter);

    m_title->setFont(AppStyle::headline());
    m_title->setAlignment(Qt::AlignCenter);
    column->addWidget(m_title, 0, Qt::AlignHCenter);

    if (subtitle) {
        m_subtitle = ShownText::label(*subtitle, this); // may quote a search
        m_subtitle->setFont(AppStyle::callout());
        m_subtitle->setAlignment(Qt::AlignCenter);
        m_subtitle->setWordWrap(true);
        m_subtitle->setContentsMargins(kSubtitleMargin, 0, kSubtitleMargin, 0);
        column->addWidget(m_subtitle);
    }

    if (showsButton(actionTitle, action)) {
        column->addSpacing(kButtonGap);
        m_button = new QPushButton(ShownText::mnemonicSafe(*actionTitle), this);
        connect(m_button, &QPushButton::clicked, this, [action = std::move(action)] { action(); });
        column->addWidget(m_button, 0, Qt::AlignHCenter);
    }
    column->addStretch(1);

    applyColors();
}

void EmptyStateView::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::PaletteChange)
        applyColors();
    QWidget::changeEvent(event);
}

void EmptyStateView::applyColors()
{
    const QColor tertiary = AppStyle::tertiary(this);
    m_symbol->setPixmap(SymbolIcons::pixmap(m_icon, kSymbolSize, tertiary, devicePixelRatioF()));
    m_title->setStyleSheet(QStringLiteral("color: %1;").arg(AppStyle::css(AppStyle::secondary(this))));
    if (m_subtitle)
        m_subtitle->setStyleSheet(QStringLiteral("color: %1;").arg(AppStyle::css(tertiary)));
}
