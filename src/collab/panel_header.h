#pragma once

#include <QString>

class QHBoxLayout;
class QToolButton;
class QWidget;

// The top line the page's side panels share: a symbol, the title in the headline font, and the
// reload and close buttons (their owner connects them).
struct PanelHeader {
    QHBoxLayout *layout = nullptr;
    QToolButton *reload = nullptr;
    QToolButton *close = nullptr;

    static PanelHeader make(QWidget *panel, const QString &symbol, const QString &title);
};
