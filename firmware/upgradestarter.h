#pragma once

#include <QString>

class QWidget;

// Starts a firmware upgrade from a .bin file: decrypts an encrypted image first (after asking),
// hands the image to the library's upgrader and opens the progress window.
namespace UpgradeStarter {

enum class Variant {
    UpdateWindow,       // "本地升级" of the update window
    DeviceLocal,        // the device page's "更新": a fresh upgrader first
    DeviceConfigured,   // the firmware named in UpdateConfig.xml
};

// The open dialog for a .bin file; empty when cancelled.
QString chooseFile(QWidget *parent);

// The decrypted copy of an encrypted image, in the per-user data folder.
QString decryptedCopyPath();

// True when the progress window was opened. Refusals (a file that is not a firmware image of
// ours, a declined decryption) are told to the operator and send nothing. The progress window
// belongs to `over`'s window (by default `parent`'s): the update window closes as it opens.
bool start(Variant variant, const QString &path, QWidget *parent, QWidget *over = nullptr);

} // namespace UpgradeStarter
