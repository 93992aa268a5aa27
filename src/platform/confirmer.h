#pragma once

#include <QString>

#include <functional>

class QWidget;

// Asks the user to confirm an action. The app shows a window-modal dialog; tests answer at once,
// without a modal loop.
class Confirmer
{
public:
    struct Question {
        QString title;
        QString confirmLabel;
        QString cancelLabel;
        bool destructive = false;
        QString message; // the explanation under the title; none when empty
    };

    virtual ~Confirmer();

    // Calls `answer` once with true for the confirm button, false for cancel, possibly after
    // returning. Nothing is called when `parent` goes away before the user answers.
    virtual void ask(QWidget *parent, const Question &question, std::function<void(bool)> answer) = 0;
};
