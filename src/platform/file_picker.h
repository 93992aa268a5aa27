#pragma once

#include <QCoroTask>
#include <QString>

#include <optional>

class QWidget;

// Asks the user for one existing file, or where to save one. The app shows a dialog; tests answer with
// a preset path.
class FilePicker
{
public:
    enum class Filter { AnyFile, Images };

    virtual ~FilePicker() = default;

    // The chosen file's path; nothing when the user cancelled.
    virtual QCoro::Task<std::optional<QString>> chooseFile(Filter filter, QWidget *parent) = 0;
    // The path to save to, starting from `proposedName` in `folder`; `nameFilter` as "Markdown (*.md)".
    // Nothing when the user cancelled.
    virtual QCoro::Task<std::optional<QString>> chooseSaveFile(QString proposedName, QString folder,
                                                               QString nameFilter, QWidget *parent) = 0;
};
