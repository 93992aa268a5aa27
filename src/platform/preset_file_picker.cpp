#include "platform/preset_file_picker.h"

QCoro::Task<std::optional<QString>> PresetFilePicker::chooseFile(Filter filter, QWidget *)
{
    m_requests.append(filter);
    co_return m_answer;
}
