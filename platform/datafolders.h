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
// else next to the executable, else ../share/v7kapp.
QString shippedFilesFolder();

} // namespace DataFolders
