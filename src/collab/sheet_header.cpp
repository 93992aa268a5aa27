#include "collab/sheet_header.h"

#include "ui/app_style.h"
#include "ui/busy_indicator.h"
#include "ui/shown_text.h"
#include "ui/symbol_icons.h"

#include <QDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QToolButton>

SheetHeader SheetHeader::make(QDialog *sheet, const QString &symbol, const QString &title)
{
    SheetHeader header;
    header.layout = new QHBoxLayout;
    auto *icon = new QLabel(sheet);
    icon->setPixmap(SymbolIcons::icon(symbol, sheet->palette().color(QPalette::WindowText)).pixmap(18, 18));
    header.title = ShownText::label(title, sheet); // often holds a page title
    header.title->setFont(AppStyle::headline());
    header.close = new QToolButton(sheet);
    header.close->setAutoRaise(true);
    header.close->setIcon(SymbolIcons::icon(QStringLiteral("xmark.circle.fill"), AppStyle::secondary(sheet)));
    header.close->setToolTip(QStringLiteral("Close"));
    QObject::connect(header.close, &QToolButton::clicked, sheet, &QDialog::reject);
    header.layout->addWidget(icon);
    header.layout->addWidget(header.title);
    header.layout->addStretch(1);
    header.layout->addWidget(header.close);
    return header;
}

SheetSpinner SheetSpinner::make(QDialog *sheet)
{
    constexpr int kSize = 18;
    SheetSpinner spinner;
    spinner.area = new QLabel(sheet);
    spinner.area->setObjectName(QStringLiteral("loadingSpinner"));
    spinner.area->setAlignment(Qt::AlignCenter);
    spinner.area->setMinimumHeight(2 * kSize);
    spinner.busy = new BusyIndicator(kSize, spinner.area);
    spinner.busy->setColor(AppStyle::secondary(sheet));
    spinner.busy->showIn(spinner.area);
    return spinner;
}
