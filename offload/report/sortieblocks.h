#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>

#include "cameras.h"
#include "offloadpos.h"

// The block files of a split offload: one "第N架次.xml" per POS record set N in the target
// folder, listing the photos of the cameras' sortie folders "<Camera>/第N架次/" with the pose
// of their POS record and the camera data of the photo information tables.
namespace SortieBlocks {

QString sortieFolderName(int sortie); // "第N架次"
QString fileName(int sortie);         // "第N架次.xml"

// The record within sortie's set of the photo at relative (below the sortie folder) of camera,
// -1 for a photo of no record of the set.
using RecordOf = std::function<int(int camera, int sortie, const QString &relative)>;

// Where the photos lie: plain copies in the sortie folders, or entries of the camera folders'
// zip volumes "pack1.zip", "pack2.zip"... (relative is then the entry's name, the photo's path
// below its card folder, and the block file names a photo "./<Camera>/pack2.zip/<entry>").
enum class Layout { SortieFolders, Volumes };

// Writes one file per set; returns how many were written. Problems go to messages. Without
// recordOf the k-th photo of a sortie folder is the k-th record of the set (in volumes, the
// k-th entry of a camera's archives is the k-th record of all the sets).
int write(const QString &target, const QList<OffloadPosSet> &pos,
          const QString tablePaths[Cameras::Count], QStringList *messages,
          const RecordOf &recordOf = {}, Layout layout = Layout::SortieFolders);

} // namespace SortieBlocks
