#pragma once

#include "platform/file_picker.h"

// Window-modal dialogs: to open a single existing file (no folders, no title of its own), or to
// save one.
class DialogFilePicker : public FilePicker
{
public:
    QCoro::Task<std::optional<QString>> chooseFile(Filter filter, QWidget *parent) override;
    // A window-modal save dialog that asks before replacing a file.
    QCoro::Task<std::optional<QString>> chooseSaveFile(QString proposedName, QString folder, QString nameFilter,
                                                       QWidget *parent) override;

    // "Images (*.png *.PNG ...)" over every format the image reader can open.
    static QString imageNameFilter();
};
