#pragma once

#include <QByteArray>
#include <QString>

// A file the user picked, read whole, with the MIME type its extension names.
struct PickedFile {
    QByteArray data;
    QString filename; // last path component, case kept
    QString mime;
};
