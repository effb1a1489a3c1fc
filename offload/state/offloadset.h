#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>

#include <vector>

#include "cameras.h"
#include "offloadpos.h"
#include "taskconfig.h"
#include "operatortexts.h"

// The set of one offload, kept beside its task files in "offloadset.json": which task files
// (by a hash of their file lists) and which cards (volume and a fingerprint of their files)
// belong to the "Taskconfig.xml" written with them, and that file's text as it was at the
// start. A resume trusts a task file only when the set binds it to the offload it continues;
// task files of another offload, or a damaged "Taskconfig.xml", are told apart that way.
struct OffloadSet
{
    struct Card
    {
        QString source; // the folder copied from
        QString mountRoot;
        QString uuid;
        QString label;
        QString subPath; // source below mountRoot ("" when it is the root)
        int files = -1;  // fingerprint: the number of files and a hash of their names and sizes
        QString fingerprint;
        QString listHash; // of the task file's entries
        // Card files whose copy has another name (relative path on the card -> relative path
        // below the camera folder, without a sortie folder): names the target folds together
        // or cannot hold. Decided before any engine runs, so resume, the save gate and the
        // report all find a copy through it; a file not in it keeps its card name.
        QHash<QString, QString> renamed;
        QString copyOf(const QString &cardRelative) const
        {
            return renamed.value(cardRelative, cardRelative);
        }
    };

    // A POS table of the offload, named by its path and the xxh64 of its bytes instead of a copy
    // of its records: a long table would make this file as large as the table.
    struct PosTable
    {
        QString path;
        QString hash;
        int records = 0;
    };

    QString id;
    QString target;
    QString backup; // the second target, empty for none (Taskconfig knows only the first)
    // "Taskconfig.xml" as written at the start; the records of the tables in posTables are left
    // out of it (a set file of an earlier version may still hold them, and is read as it is).
    QByteArray config;
    QList<PosTable> posTables;
    QString match;     // how photos were matched to POS records: "time" or "index"
    bool hasOffset = false; // the camera clock minus the POS clock the operator gave
    double offsetSeconds = 0;
    bool cameraPrefix = false; // every copy's file name starts with its camera ("Center_")
    Card cards[Cameras::Count];

    static QString path(const QString &stateFolder);
    // 0 read, -1 no file, -2 damaged (why says how).
    static int read(const QString &path, OffloadSet *set, QString *why);
    // Replaces the file whole: temporary file, sync, rename.
    bool write(const QString &path, QString *error) const;
    // Unbinds the task files in the folder (a new offload is about to overwrite them).
    static bool remove(const QString &path, QString *error);

    // The tables of pos read from a file (their hash known), in order.
    static QList<PosTable> tablesOf(const QList<OffloadPosSet> &pos);
    // The records of those tables taken out of config: the set names the tables instead.
    static void dropTableRecords(TaskConfig *config);
    // Reads posTables again into pos; false with why when a table is gone, no longer reads or
    // is not the file it was (its hash changed).
    bool readTables(QList<OffloadPosSet> *pos, QString *why) const;
};

// Which card is which: the volume a folder is on and a fingerprint of its files.
namespace CardIdentity {

// Fingerprint of the files an offload of folder copies; files is -1 when it cannot be listed.
void fingerprint(const QString &folder, int *files, QString *hash);
// Fills the card's volume, sub-path and fingerprint from its source folder.
void describe(const QString &source, OffloadSet::Card *card);
// Hash of a task file's entries.
QString listHash(const std::vector<char> &entries);

// The folder that holds the recorded card now: the given folder (a photo folder or the card's
// mount root) when there is one, else the recorded folder, else the same sub-folder of any
// mounted volume (the camera's card by label first). Empty with why when it is not found or a
// different card stands there. With the task file of the card's copy, a sample of the photos
// it read must also begin as they did then (CardHeads): names and sizes alone are the same on
// another card of the camera as often as not.
// told: the same for the operator.
QString locate(const OffloadSet::Card &card, int camera, const QString &given, QString *why,
               const QString &taskFile = QString(), OperatorOutcome *told = nullptr);

} // namespace CardIdentity
