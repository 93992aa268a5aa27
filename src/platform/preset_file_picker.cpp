#include "platform/preset_file_picker.h"

QCoro::Task<std::optional<QString>> PresetFilePicker::chooseFile(Filter filter, QWidget *)
{
    m_requests.append(filter);
    co_return m_answer;
}

QCoro::Task<std::optional<QString>> PresetFilePicker::chooseSaveFile(QString proposedName, QString folder, QString,
                                                                     QWidget *)
{
    m_proposedNames.append(proposedName);
    m_proposedFolders.append(folder);
    co_return m_saveAnswer;
}
