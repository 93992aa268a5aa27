#pragma once

#include "app/main_view.h"

class QWidget;

// Builds the open page's side panels (comments, suggestions) for MainView; null for a kind it
// does not build.
QWidget *makePagePanel(const AppContext &context, PageViewModel &page, MainView::PagePanel kind);
