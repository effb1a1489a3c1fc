#pragma once

#include <QString>
#include <QVariant>

// The operator's choices that outlive a run (the folders the choosers last opened, and later the
// program's options), kept in settings.ini of the program's state folder, one INI file that a
// crew can read and a test can keep apart with V7_STATE_DIR.
namespace AppSettings {

// Keys of the folders the choosers remember, one per chooser.
inline constexpr char kPosSaveFolder[] = "folders/posSave";
inline constexpr char kOffloadCameraFolder[] = "folders/offloadCamera";
inline constexpr char kOffloadTargetFolder[] = "folders/offloadTarget";
inline constexpr char kOffloadBackupFolder[] = "folders/offloadBackup";
inline constexpr char kOffloadPosFolder[] = "folders/offloadPos";
inline constexpr char kFirmwareFolder[] = "folders/firmware";

// The restore's save gate holds photos that are not on two disks (off: one verified copy does).
inline constexpr char kRequireTwoCopies[] = "restore/requireTwoCopies";

// <state folder>/settings.ini.
QString filePath();

QVariant value(const QString &key, const QVariant &fallback = QVariant());
void setValue(const QString &key, const QVariant &value);

// The folder last chosen under key while it still exists; empty otherwise.
QString lastFolder(const QString &key);
// Remembers dir; a file's path remembers the folder that holds it.
void setLastFolder(const QString &key, const QString &dirOrFile);
// Where a chooser opens: the last folder under key, else under orKey, else the home folder.
QString startFolder(const QString &key, const QString &orKey = QString());

} // namespace AppSettings
