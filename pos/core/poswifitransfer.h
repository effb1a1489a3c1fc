#pragma once

#include <QList>
#include <QObject>
#include <QString>
#include <QVector>

#include "posnames.h"
#include "posslotrow.h"
#include "v7k.h"

class PosLinkPort;

// The WiFi side of the POS download, stepped by a timer and never waiting: the listing of the
// fourteen slots, the download of the ticked rows in the sequence the camera's firmware
// expects, cancel and delete. The page and v7tool both drive it.
class PosWifiTransfer : public QObject
{
    Q_OBJECT
public:
    static constexpr int kSlotCount = POSFILE_SLOT_COUNT;
    // Ticks with data pending after which a slot that does not answer is skipped.
    static constexpr int kRetryLimit = 100;

    explicit PosWifiTransfer(PosLinkPort *port, QObject *parent = nullptr);

    // ---- Listing ----
    // Empties the list and asks for the slots from 1 on.
    void startRefresh();
    // Zeroes the manager's cached descriptions, so that a listing shows only fresh answers.
    void zeroManagerCache();
    bool listingComplete() const { return m_slots.size() == kSlotCount; }
    const QVector<PosFileInfo> &listing() const { return m_slots; }
    PosSlotRow row(int index) const;
    // A listing as if the camera had answered it, for the screenshots.
    void showListingForPreview(const QVector<PosFileInfo> &listing);

    // ---- Download and delete; rows are list indexes, ascending ----
    // False (nothing starts) without a selected row or without a complete listing.
    bool startDownload(const QList<int> &rows, const QString &chosenPath);
    // The cancel call goes out on the next step; what was written stays on disk.
    void requestCancel();
    bool startDelete(const QList<int> &rows);
    // The independent-POS switch, written into the manager before each file.
    void setIndependentPos(bool on);
    bool independentPos() const { return m_independentPos; }

    // One timer tick: refresh, transfer, cancel, delete.
    void step();
    // The link went down: nothing of the camera's listing or transfer is kept.
    void reset();

    bool refreshing() const { return m_refreshing; }
    bool downloading() const { return m_downloading; }
    bool deleting() const { return m_deleting; }
    int refreshIndex() const { return m_refreshIndex; }
    const QList<int> &selectedRows() const { return m_selected; }
    int selectionCursor() const { return m_cursor; }
    QString outputPath(int cursor) const;
    QString chosenPath() const { return m_chosenPath; }

signals:
    void listingCleared();
    void slotListed(int index, const PosSlotRow &row);
    // percent for the progress bar; text for the label ("" while a file has no size).
    void progressChanged(int percent, const QString &text);
    void fileFinished(int row, const QString &path);
    void downloadSucceeded();
    // A table could not be written: the download stops and nothing is reported as done.
    void downloadFailed(const QString &path);

private:
    void refreshStep(PosFileManager *m);
    void transferStep(PosFileManager *m);
    void requestFile(PosFileManager *m);
    void finishFile(PosFileManager *m);
    void progressUpdate(PosFileManager *m);
    void deleteStep(PosFileManager *m);
    void fail(PosFileManager *m, const QString &path);
    PosFirmwareRange range() const;

    PosLinkPort *m_port;
    QVector<PosFileInfo> m_slots;
    QList<int> m_selected;
    QString m_chosenPath;
    bool m_refreshing = false;
    int m_refreshIndex = 1;
    int m_retries = 0;
    bool m_downloading = false;
    bool m_cancelRequested = false;
    bool m_deleting = false;
    int m_deleteCursor = 0;
    int m_cursor = 0;
    qint64 m_expectedSize = -1;
    bool m_confirmed = false;
    bool m_independentPos = false;
};
