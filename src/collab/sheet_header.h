#pragma once

#include <QString>

class BusyIndicator;
class QDialog;
class QHBoxLayout;
class QLabel;
class QToolButton;

// The top line the page's sheets share: a symbol, the title in the headline font, and a close
// button that rejects the sheet.
struct SheetHeader {
    QHBoxLayout *layout = nullptr;
    QLabel *title = nullptr;
    QToolButton *close = nullptr;

    static SheetHeader make(QDialog *sheet, const QString &symbol, const QString &title);
};

// The spinner a sheet shows in place of its content while that loads.
struct SheetSpinner {
    QLabel *area = nullptr;
    BusyIndicator *busy = nullptr;

    static SheetSpinner make(QDialog *sheet);
};
