#pragma once

#include <QString>

// Opens folders in the desktop's file manager. Showing a file selected goes
// through the freedesktop file-manager interface on the session bus
// ("org.freedesktop.FileManager1", ShowItems), asked without waiting; where
// no file manager answers there, the file's folder is opened instead.
namespace DesktopFileManager {

void openFolder(const QString& folder);
void showFile(const QString& filePath);

}  // namespace DesktopFileManager
