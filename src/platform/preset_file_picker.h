#pragma once

#include "platform/file_picker.h"

#include <QList>
#include <QStringList>

// Answers every request with a preset path (or a cancel) and remembers what was asked (tests).
class PresetFilePicker : public FilePicker
{
public:
    explicit PresetFilePicker(std::optional<QString> answer = std::nullopt)
        : m_answer(std::move(answer))
    {
    }

    void setAnswer(std::optional<QString> answer) { m_answer = std::move(answer); }
    const QList<Filter> &requests() const { return m_requests; }
    // The save dialog's answer, and the names and folders it proposed.
    void setSaveAnswer(std::optional<QString> answer) { m_saveAnswer = std::move(answer); }
    const QStringList &proposedNames() const { return m_proposedNames; }
    const QStringList &proposedFolders() const { return m_proposedFolders; }

    QCoro::Task<std::optional<QString>> chooseFile(Filter filter, QWidget *parent) override;
    QCoro::Task<std::optional<QString>> chooseSaveFile(QString proposedName, QString folder, QString nameFilter,
                                                       QWidget *parent) override;

private:
    std::optional<QString> m_answer;
    QList<Filter> m_requests;
    std::optional<QString> m_saveAnswer;
    QStringList m_proposedNames;
    QStringList m_proposedFolders;
};
