#include "collab/panel_header.h"

#include "ui/app_style.h"
#include "ui/symbol_icons.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QToolButton>

PanelHeader PanelHeader::make(QWidget *panel, const QString &symbol, const QString &title)
{
    PanelHeader header;
    header.layout = new QHBoxLayout;
    auto *icon = new QLabel(panel);
    icon->setPixmap(SymbolIcons::pixmap(symbol, 16, panel->palette().color(QPalette::WindowText),
                                        panel->devicePixelRatioF()));
    auto *heading = new QLabel(title, panel);
    heading->setFont(AppStyle::headline());
    header.reload = new QToolButton(panel);
    header.reload->setIcon(SymbolIcons::icon(QStringLiteral("arrow.clockwise")));
    header.reload->setAutoRaise(true);
    header.reload->setToolTip(QStringLiteral("Reload"));
    header.close = new QToolButton(panel);
    header.close->setIcon(SymbolIcons::icon(QStringLiteral("xmark.circle.fill"), AppStyle::secondary(panel)));
    header.close->setAutoRaise(true);
    header.close->setToolTip(QStringLiteral("Close"));
    header.layout->addWidget(icon);
    header.layout->addWidget(heading);
    header.layout->addStretch(1);
    header.layout->addWidget(header.reload);
    header.layout->addWidget(header.close);
    return header;
}
