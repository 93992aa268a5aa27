#pragma once

#include "platform/file_picker.h"

#include <functional>

class QFileDialog;

// Window-modal dialogs: to open a single existing file (no folders, no title of its own), or to
// save one. Once a dialog closes, its window has the keyboard again, on the widget that had it.
class DialogFilePicker : public FilePicker
{
public:
    // Stands in for the user at a dialog just opened (tests), called from the event loop; by
    // default the user answers.
    using Answerer = std::function<void(QFileDialog &dialog)>;

    explicit DialogFilePicker(Answerer answerer = {});

    QCoro::Task<std::optional<QString>> chooseFile(Filter filter, QWidget *parent) override;
    // A window-modal save dialog that asks before replacing a file.
    QCoro::Task<std::optional<QString>> chooseSaveFile(QString proposedName, QString folder,
                                                       QString nameFilter, QWidget *parent) override;

    // "Images (*.png *.PNG ...)" over every format the image reader can open.
    static QString imageNameFilter();

private:
    Answerer m_answerer;
};
