#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include "cameras.h"
#include "offloadpos.h"

// The block files of a split offload: one "第N架次.xml" per POS record set N in the target
// folder, listing the photos of the cameras' sortie folders "<Camera>/第N架次/" with the pose
// of their POS record and the camera data of the photo information tables.
namespace SortieBlocks {

QString sortieFolderName(int sortie); // "第N架次"
QString fileName(int sortie);         // "第N架次.xml"

// Writes one file per set; returns how many were written. Problems go to messages.
int write(const QString &target, const QList<OffloadPosSet> &pos,
          const QString tablePaths[Cameras::Count], QStringList *messages);

} // namespace SortieBlocks
