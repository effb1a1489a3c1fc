#pragma once

#include <QString>
#include <QStringList>

// What the offload page and `v7tool cards` learn about a folder of photos, by the same listing
// the engine copies from (CardFiles: every file below the folder).
namespace PhotoFolder {

struct Listing
{
    bool readable = false;
    int files = 0;     // the files an offload of the folder copies
    int photos = 0;    // of those, JPEG photos (".JPG", ".jpg", ".jpeg", any case)
    quint64 bytes = 0; // of the files
    // Files below the folder whose path is too long for a task entry: reported, not copied.
    QStringList skipped;
};

// Lists the folder: slow on a full card, so never on the GUI thread.
Listing list(const QString &folder);
// The folder the offload page opens its chooser on: "<card root>/DCIM" when it exists.
QString photoRoot(const QString &cardRoot);

} // namespace PhotoFolder
