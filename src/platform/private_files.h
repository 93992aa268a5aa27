#pragma once

#include <QString>

// The app's own folders and files are the user's alone: folders 0700, files 0600.

// Creates the folder (and any missing parents, which keep the usual mode) so that the folder itself
// is 0700, and narrows an existing one that other users could enter. False when it is not a folder
// afterwards.
bool makePrivateFolder(const QString &path);

// Creates the file empty at 0600 when missing, or narrows it to 0600 when others could read it.
// The folder must exist. False when neither worked.
bool makePrivateFile(const QString &path);
