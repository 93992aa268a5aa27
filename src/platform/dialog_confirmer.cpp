#include "platform/dialog_confirmer.h"

#include <QMessageBox>
#include <QPushButton>

DialogConfirmer::DialogConfirmer(ButtonStyle destructiveStyle)
    : m_destructiveStyle(std::move(destructiveStyle))
{
}

void DialogConfirmer::ask(QWidget *parent, const Question &question, std::function<void(bool)> answer)
{
    auto *box = new QMessageBox(parent);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::WindowModal);
    box->setIcon(question.destructive ? QMessageBox::Warning : QMessageBox::Question);
    box->setText(question.title);
    if (!question.message.isEmpty())
        box->setInformativeText(question.message);
    QPushButton *confirm = box->addButton(
        question.confirmLabel, question.destructive ? QMessageBox::DestructiveRole : QMessageBox::AcceptRole);
    QPushButton *cancel = box->addButton(question.cancelLabel, QMessageBox::RejectRole);
    if (question.destructive && m_destructiveStyle)
        m_destructiveStyle(confirm);
    box->setDefaultButton(cancel);
    box->setEscapeButton(cancel);
    // The box is the parent's child: when the parent goes first, so does the connection.
    QObject::connect(box, &QMessageBox::finished, box,
                     [box, confirm, answer = std::move(answer)] { answer(box->clickedButton() == confirm); });
    box->open();
}
