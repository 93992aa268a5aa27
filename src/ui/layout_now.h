#pragma once

class QWidget;

// Lays out the widget and every widget it sits in, from the inside out, now: a change of size is
// then taken by its whole window in this turn, not over the layout requests of later turns.
void layOutNow(QWidget *widget);
