#pragma once

#include "platform/confirmer.h"

#include <QList>

// Answers every question at once with a preset answer and remembers the questions, in order (tests).
class PresetConfirmer : public Confirmer
{
public:
    explicit PresetConfirmer(bool answer = true)
        : m_answer(answer)
    {
    }

    void ask(QWidget *parent, const Question &question, std::function<void(bool)> answer) override;

    void setAnswer(bool answer) { m_answer = answer; }
    const QList<Question> &questions() const { return m_questions; }

private:
    bool m_answer;
    QList<Question> m_questions;
};
