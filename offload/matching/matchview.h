#pragma once

#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>

// The match of photos to POS records (the object `v7tool match --json` prints) read into plain
// lists, so that the report and the photogrammetry exports walk it without JSON look-ups.
// Record indexes are 0-based within their set; sorties count from 1 in the order of the sets.
struct MatchView
{
    struct Record
    {
        int sortie = 0;
        int index = 0;
    };
    // Consecutive records of one sortie, from and to inclusive.
    struct Run
    {
        int sortie = 0;
        int from = 0;
        int to = 0;
        int count() const { return to - from + 1; }
    };
    struct Pair
    {
        QString photo; // relative to the camera's card folder
        Record record;
    };
    struct Camera
    {
        QString name; // "Front", "Right", "Back", "Left", "Center"
        int engineNumber = -1;
        int photos = 0;
        int matched = 0;
        QString method; // "time" or "index"
        double offsetSeconds = 0;
        double offsetSpread = 0;
        QList<Run> missed;  // ascending
        int missedCount = 0; // records in the runs
        QStringList extra;
        QList<Pair> pairs;
    };
    struct Sortie
    {
        int number = 0;
        QString file;
        int records = 0;
        QString start;
        QString end;
    };

    QList<Camera> cameras;
    QList<Sortie> sorties;

    static MatchView read(const QJsonObject &match);
};
