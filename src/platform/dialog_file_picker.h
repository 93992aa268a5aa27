#pragma once

#include "platform/file_picker.h"

// A window-modal open dialog: a single existing file, no folders, no title of its own.
class DialogFilePicker : public FilePicker
{
public:
    QCoro::Task<std::optional<QString>> chooseFile(Filter filter, QWidget *parent) override;

    // "Images (*.png *.PNG ...)" over every format the image reader can open.
    static QString imageNameFilter();
};
