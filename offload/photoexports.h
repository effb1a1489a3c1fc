#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include "matchview.h"
#include "offloadpos.h"

// The exterior orientation of every matched photo for photogrammetry software, one pair of
// files per sortie beside its block file "第N架次.xml": a reference table for Metashape and a
// geolocation file for OpenDroneMap. Image names are relative to the target folder.
namespace PhotoExports {

// Where the copy of a card photo lies below the target: "<Camera>/[第N架次/]relative".
QString imageName(const QString &cameraFolder, int sortie, const QString &relative,
                  bool sortieFolders);

QString metashapeFileName(int sortie); // "第N架次_metashape.csv"
QString odmFileName(int sortie);       // "第N架次_geo.txt"

// The two files' text for sortie (1-based); rows of the centre camera first.
QString metashapeTable(const MatchView &match, const QList<OffloadPosSet> &pos, int sortie,
                       bool sortieFolders);
QString odmGeo(const MatchView &match, const QList<OffloadPosSet> &pos, int sortie,
               bool sortieFolders);

// Writes both files for every sortie into target; returns the number of files written.
constexpr int filesPerSortie = 2;
int write(const QString &target, const MatchView &match, const QList<OffloadPosSet> &pos,
          bool sortieFolders, QStringList *messages);

} // namespace PhotoExports
