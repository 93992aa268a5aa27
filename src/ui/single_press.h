#pragma once

class QAbstractButton;

// For a button whose every press sends a request: the second press of a double-click is no second
// press. A user's habit of double-clicking would otherwise send two (an AI run, a new row).
void takeDoubleClickAsOnePress(QAbstractButton &button);
