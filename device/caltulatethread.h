#pragma once

#include <QString>
#include <QThread>

#include "foldersizetotal.h"

// One-shot worker per camera source folder: adds the folder's size to the page's total.
class CaltulateThread : public QThread
{
    Q_OBJECT
public:
    CaltulateThread(const QString &source, FolderSizeTotal *total, QObject *parent = nullptr);

    // Sum of the plain, non-hidden files directly in path (no sub-folders), in whole MiB;
    // 0 for a folder that cannot be listed.
    static qint64 folderSizeMiB(const QString &path);

protected:
    void run() override;

private:
    QString m_source;
    FolderSizeTotal *m_total;
};
