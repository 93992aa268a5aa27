#pragma once

#include "platform/confirmer.h"

// Asks with a window-modal message box over the parent's window.
class DialogConfirmer : public Confirmer
{
public:
    void ask(QWidget *parent, const Question &question, std::function<void(bool)> answer) override;
};
