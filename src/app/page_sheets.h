#pragma once

#include "app/main_view.h"

class QDialog;

// Builds the open page's sheets (share, publish, version history) for MainView, for the page as it
// is when the toolbar button is pressed; null when the editor has no page.
QDialog *makePageSheet(const AppContext &context, PageViewModel &page, MainView::PageSheet kind);
