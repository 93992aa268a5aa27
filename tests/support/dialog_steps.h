#pragma once

#include "platform/dialog_file_picker.h"

#include <QApplication>
#include <QFileDialog>
#include <QLineEdit>
#include <QTest>

// The user's part at the app's own dialogs, for tests that let the dialogs open for real.
namespace DialogSteps {

// Answers a file dialog as a user does once it is in front: the file's path in the name field, then
// "Open". `asked` counts the dialogs answered.
inline DialogFilePicker::Answerer pickFile(const QString &path, int *asked)
{
    return [path, asked](QFileDialog &dialog) {
        ++*asked;
        auto *name = dialog.findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
        if (!name || !QTest::qWaitFor([&] { return QApplication::activeWindow() == &dialog; }, 20000)) {
            dialog.reject();
            return;
        }
        name->setText(path);
        // The dialog checks the file as it does for a click on "Open".
        static_cast<QDialog &>(dialog).accept();
    };
}

} // namespace DialogSteps
