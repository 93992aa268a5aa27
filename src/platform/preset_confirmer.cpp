#include "platform/preset_confirmer.h"

void PresetConfirmer::ask(QWidget *parent, const Question &question, std::function<void(bool)> answer)
{
    Q_UNUSED(parent);
    m_questions.append(question);
    answer(m_answer);
}
