#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include "matchview.h"
#include "offloadpos.h"

// The exterior orientation of every matched photo for photogrammetry software, one pair of
// files per sortie beside its block file "第N架次.xml": a reference table for Metashape and a
// geolocation file for OpenDroneMap, and a project folder "第N架次_odm" for OpenDroneMap with
// the sortie's photos linked into its images/ folder. Both programs know a photo by its file
// name alone, and the five cards name their photos alike: each photo is given by the name it
// has there, "Center_DSC00001.JPG" (the copy's own name when the copies carry their camera).
namespace PhotoExports {

// Where the copy of a card photo lies below the target: "<Camera>/[第N架次/]relative".
QString imageName(const QString &cameraFolder, int sortie, const QString &relative,
                  bool sortieFolders);

QString metashapeFileName(int sortie); // "第N架次_metashape.csv"
QString odmFileName(int sortie);       // "第N架次_geo.txt"
QString odmProjectName(int sortie);    // "第N架次_odm", holding images/ and geo.txt

// The file name each of a sortie's photos has for the programs, by its copy's path below the
// target ("Center/第1架次/DCIM/DSC00001.JPG"): with cameraPrefix the copy's file name, else
// the camera's name, "_" and the copy's file name; blanks become "_" and a name another photo
// of the sortie has already gets "~2", "~3" before its suffix.
QStringList programNames(const QStringList &images, bool cameraPrefix);

// The two files' text for sortie (1-based); rows of the centre camera first.
QString metashapeTable(const MatchView &match, const QList<OffloadPosSet> &pos, int sortie,
                       bool sortieFolders, bool cameraPrefix = false);
QString odmGeo(const MatchView &match, const QList<OffloadPosSet> &pos, int sortie,
               bool sortieFolders, bool cameraPrefix = false);

// Writes both files and the project folder for every sortie into target; returns the number
// written of the three. A target without hard links (exFAT) gets no project folder; that
// counts as written and sets noHardLinks.
constexpr int filesPerSortie = 3;
int write(const QString &target, const MatchView &match, const QList<OffloadPosSet> &pos,
          bool sortieFolders, bool cameraPrefix, QStringList *messages,
          bool *noHardLinks = nullptr);

} // namespace PhotoExports
