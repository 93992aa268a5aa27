#pragma once

#include <QPushButton>

// A flat button drawn as a rounded card: a faint wash of the text's tone under a hairline border.
// Painted here rather than by a style sheet: a sheet per card is parsed and polished per card, which
// made a screen of a few hundred cards twice as slow to show.
class CardButton : public QPushButton
{
public:
    // fillAlpha: how strongly the wash shows, from 0 (none) to 1.
    explicit CardButton(qreal fillAlpha, QWidget *parent = nullptr);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    qreal m_fillAlpha;
};
