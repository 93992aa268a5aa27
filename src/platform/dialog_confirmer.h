#pragma once

#include "platform/confirmer.h"

#include <functional>

class QAbstractButton;

// Asks with a window-modal message box over the parent's window. The cancel button is the default,
// so Return never confirms a destructive question.
class DialogConfirmer : public Confirmer
{
public:
    // Dresses the confirm button of a destructive question (the app's red lives above this layer).
    using ButtonStyle = std::function<void(QAbstractButton *)>;

    explicit DialogConfirmer(ButtonStyle destructiveStyle = {});

    void ask(QWidget *parent, const Question &question, std::function<void(bool)> answer) override;

private:
    ButtonStyle m_destructiveStyle;
};
