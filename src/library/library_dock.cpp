#include "library/library_dock.h"

#include "library/library_symbols.h"
#include "ui/app_menu.h"
#include "ui/app_style.h"
#include "ui/shown_text.h"

#include <QEvent>
#include <QFrame>
#include <QHBoxLayout>
#include <QMenu>
#include <QToolButton>

#include <utility>

namespace {

constexpr int kButtonSymbolSize = 14;
constexpr int kButtonVPad = 10;
constexpr int kDividerHeight = 18;

} // namespace

LibraryDock::LibraryDock(QWidget *parent)
    : QWidget(parent)
{
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    connect(addButton(QStringLiteral("house"), QString::fromLatin1(kHome)), &QToolButton::clicked, this,
            &LibraryDock::homeClicked);
    addDivider();
    connect(addButton(QStringLiteral("trash"), QString::fromLatin1(kTrash)), &QToolButton::clicked, this,
            &LibraryDock::trashClicked);
    addDivider();
    connect(addButton(QStringLiteral("folder.badge.plus"), QString::fromLatin1(kNewFolder)),
            &QToolButton::clicked, this, &LibraryDock::newFolderClicked);
    addDivider();
    connect(addButton(QStringLiteral("plus.square"), QString::fromLatin1(kNewPage)), &QToolButton::clicked,
            this, &LibraryDock::newPageClicked);

    m_templateDivider = addDivider();
    m_templateButton = new QToolButton(this);
    m_templateButton->setToolTip(QString::fromLatin1(kNewFromTemplate));
    m_templateButton->setAutoRaise(true);
    m_templateButton->setFocusPolicy(Qt::NoFocus);
    m_templateButton->setPopupMode(QToolButton::InstantPopup);
    m_templateButton->setIconSize(QSize(13, 13));
    m_templateButton->setStyleSheet(QStringLiteral("QToolButton::menu-indicator { image: none; }"));
    m_templateMenu = new QMenu(m_templateButton);
    m_templateButton->setMenu(m_templateMenu);
    layout->addWidget(m_templateButton);
    m_buttons.emplace_back(m_templateButton, QStringLiteral("doc.badge.plus"));

    applyIcons();
    setTemplates({});
}

QToolButton *LibraryDock::addButton(const QString &symbol, const QString &toolTip)
{
    auto *button = new QToolButton(this);
    button->setToolTip(toolTip);
    button->setAccessibleName(toolTip);
    button->setAutoRaise(true);
    button->setFocusPolicy(Qt::NoFocus);
    button->setIconSize(QSize(kButtonSymbolSize, kButtonSymbolSize));
    // The four buttons share the width; the whole cell takes the click.
    button->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    button->setStyleSheet(QStringLiteral("QToolButton { padding: %1px 0px; }").arg(kButtonVPad));
    static_cast<QHBoxLayout *>(layout())->addWidget(button, 1);
    m_buttons.emplace_back(button, symbol);
    return button;
}

QFrame *LibraryDock::addDivider()
{
    auto *divider = new QFrame(this);
    divider->setFrameShape(QFrame::VLine);
    divider->setFrameShadow(QFrame::Plain);
    divider->setFixedHeight(kDividerHeight);
    divider->setStyleSheet(QStringLiteral("color: %1;").arg(AppStyle::css(AppStyle::tertiary(this))));
    static_cast<QHBoxLayout *>(layout())->addWidget(divider, 0, Qt::AlignVCenter);
    return divider;
}

void LibraryDock::applyIcons()
{
    const QColor tone = AppStyle::secondary(this);
    for (const auto &[button, symbol] : m_buttons)
        button->setIcon(LibrarySymbols::icon(symbol, tone));
}

void LibraryDock::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::PaletteChange)
        applyIcons();
    QWidget::changeEvent(event);
}

QToolButton *LibraryDock::button(const QString &toolTip) const
{
    for (const auto &entry : m_buttons) {
        if (entry.first->toolTip() == toolTip)
            return entry.first;
    }
    return nullptr;
}

void LibraryDock::setTemplates(const std::vector<PageTemplate> &templates)
{
    m_templateMenu->clear();
    // A click in the submenu lands here while the submenu still handles it: it goes once that ends.
    if (QMenu *old = std::exchange(m_deleteMenu, nullptr)) {
        old->hide();
        old->deleteLater();
    }
    const bool any = !templates.empty();
    m_templateDivider->setVisible(any);
    m_templateButton->setVisible(any);
    if (!any)
        return;
    for (const PageTemplate &t : templates) {
        const QString id = t.id;
        connect(m_templateMenu->addAction(ShownText::mnemonicSafe(t.name)), &QAction::triggered, this,
                [this, id] { Q_EMIT templateChosen(id); });
    }
    m_templateMenu->addSeparator();
    m_deleteMenu = new AppMenu(m_templateMenu);
    m_deleteMenu->setTitle(QString::fromLatin1(kDeleteTemplate));
    m_templateMenu->addMenu(m_deleteMenu);
    for (const PageTemplate &t : templates) {
        const QString id = t.id;
        QAction *remove = m_deleteMenu->addAction(ShownText::mnemonicSafe(t.name));
        AppStyle::markDestructive(remove);
        connect(remove, &QAction::triggered, this, [this, id] { Q_EMIT templateDeleteChosen(id); });
    }
}
