#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <mutex>

#include "cameras.h"
#include "disktask.h"
#include "offloadpos.h"
#include "photoinfotable.h"

struct MyExcelObject;

// The offload's per-photo step: tags a photo held in memory with the position of the POS
// record it is given (the record sets count as one list; the session passes each photo's
// matched record, -1 for none) and focal length 20,
// and adds the photo's row to its camera's photo information table once it is on the disk.
class PhotoTagStep
{
public:
    static constexpr int FocalLengthMm = 20;

    // tablePaths by engine camera number; append keeps the rows of a resumed offload.
    PhotoTagStep(const QList<OffloadPosSet> &pos, const QString tablePaths[Cameras::Count],
                 bool append);
    ~PhotoTagStep();

    PhotoStep step();
    // "<photo>: <why>" of each photo copied without its position, in the order met.
    QStringList untagged() const;
    // "<folder>/center.txt", ... by engine camera number.
    static QString tablePath(const QString &folder, int camera);
    static OffloadPosSet posSet(const MyExcelObject &object);

private:
    static int tag(void *context, int camera, int index, const char *target,
                   const unsigned char *data, size_t size, std::vector<unsigned char> *header,
                   size_t *replaced);
    static void filed(void *context, int camera, int index, const char *target,
                      const unsigned char *data, size_t size);

    QList<OffloadPosPoint> m_points;
    QString m_tablePaths[Cameras::Count];
    bool m_append = false;
    PhotoInfoTable m_tables[Cameras::Count]; // each written by its own camera's thread only
    mutable std::mutex m_untaggedLock;       // the five camera threads report here
    QStringList m_untagged;
};
