#pragma once

#include <QString>

// Where the program keeps what it writes (task files, dumps, temporary firmware) and where it
// finds what it ships (update configuration, firmware, card templates, help).
namespace DataFolders {

// The per-user base folder of application data ($XDG_DATA_HOME, normally ~/.local/share).
QString applicationDataFolder();

// The program's own per-user folder: $V7_STATE_DIR when set, else <application data>/V7Assistant.
QString perUserDataFolder();

// perUserDataFolder() + "/dump".
QString dumpFolder();

// Read-only files shipped with the program: $V7_SHIPPED_DIR when set (the demo and the tests),
// else shippedFilesFolderFor(the executable's folder).
QString shippedFilesFolder();

// The program's folder when it keeps any shipped file (a build tree, a copied program folder),
// else its ../share/v7kapp when that exists (an installed program), else the program's folder.
QString shippedFilesFolderFor(const QString &programFolder);

// One shipped file or folder by name, in shippedFilesFolder().
QString shippedFile(const QString &name);

// The operator's manual, opened by the help button.
inline const char *manualFileName() { return "V7 Assistant.pdf"; }

} // namespace DataFolders
