#include "poswifitransfer.h"

#include "poslinkport.h"
#include "poslog.h"
#include "postable.h"

#include <QFile>

#include <cstdio>
#include <cstring>

Q_LOGGING_CATEGORY(lcPosConsole, "v7.pos")

namespace {
bool closeChecked(FILE *file)
{
    const bool clean = !std::ferror(file);
    return std::fclose(file) == 0 && clean;
}
} // namespace

PosWifiTransfer::PosWifiTransfer(PosLinkPort *port, QObject *parent)
    : QObject(parent)
    , m_port(port)
{}

PosFirmwareRange PosWifiTransfer::range() const
{
    return posFirmwareRange(m_port->firmwareVersionText());
}

PosSlotRow PosWifiTransfer::row(int index) const
{
    if (index < 0 || index >= m_slots.size())
        return {};
    return PosSlotRow::of(m_slots[index], index, m_port->posRecordSize());
}

void PosWifiTransfer::startRefresh()
{
    m_slots.clear();
    emit listingCleared();
    m_refreshIndex = 1;
    m_retries = 0;
    m_refreshing = true;
}

void PosWifiTransfer::showListingForPreview(const QVector<PosFileInfo> &listing)
{
    startRefresh();
    m_refreshing = false;
    for (const PosFileInfo &info : listing) {
        m_slots.append(info);
        emit slotListed(int(m_slots.size()) - 1, row(int(m_slots.size()) - 1));
    }
}

void PosWifiTransfer::zeroManagerCache()
{
    PosFileManager *m = m_port->manager();
    if (!m)
        return;
    std::memset(m->cache, 0, sizeof m->cache);
    m->cacheMask = 0;
}

void PosWifiTransfer::setIndependentPos(bool on)
{
    m_independentPos = on;
    if (PosFileManager *m = m_port->manager())
        m->independentPos = on ? 1 : 0;
}

void PosWifiTransfer::reset()
{
    m_slots.clear();
    m_selected.clear();
    m_refreshing = m_downloading = m_cancelRequested = m_deleting = m_confirmed = false;
    m_refreshIndex = 1;
    m_retries = m_cursor = m_deleteCursor = 0;
    m_expectedSize = -1;
    emit listingCleared();
}

void PosWifiTransfer::step()
{
    PosFileManager *m = m_port->manager();
    if (!m)
        return;
    if (m_refreshing && m_port->connected())
        refreshStep(m);
    if (m_downloading)
        transferStep(m);
    if (m_cancelRequested) {
        m_cancelRequested = false;
        posfile_file_cancelRequest(m);
    }
    if (m_deleting)
        deleteStep(m);
}

// ---- Listing ----

void PosWifiTransfer::refreshStep(PosFileManager *m)
{
    if (m_refreshIndex >= 1 && m_refreshIndex <= kSlotCount) {
        const int flag = m_port->newPosData();
        posfile_info_request(m, m_refreshIndex);
        // Nothing new arrived: the same request goes out again on the next tick.
        if (flag == 0)
            return;
        PosFileInfo info = {};
        if (posfile_info_get(m, m_refreshIndex, &info) != -1) {
            m_slots.append(info);
            m_retries = 0;
            const int index = int(m_slots.size()) - 1;
            emit slotListed(index, row(index));
            ++m_refreshIndex;
            m_port->clearNewPosData();
        }
        if (m_retries > kRetryLimit) {
            ++m_refreshIndex;
            m_retries = 0;
        }
        ++m_retries;
    }
    if (m_refreshIndex == kSlotCount + 1) {
        qCInfo(lcPosConsole, "refresh success");
        m_refreshing = false;
    }
}

// ---- Download ----

QString PosWifiTransfer::outputPath(int cursor) const
{
    if (cursor < 0 || cursor >= m_selected.size())
        return {};
    return PosNames::outputPath(m_chosenPath, int(m_selected.size()), m_selected[cursor]);
}

bool PosWifiTransfer::startDownload(const QList<int> &rows, const QString &chosenPath)
{
    PosFileManager *m = m_port->manager();
    if (!m || rows.isEmpty() || chosenPath.isEmpty() || !listingComplete() || m_downloading)
        return false;
    for (int r : rows) {
        if (r < 0 || r >= m_slots.size())
            return false;
    }
    m_selected = rows;
    m_chosenPath = chosenPath;
    m_cursor = 0;
    m_confirmed = false;
    m_expectedSize = -1;
    m->received = 0;
    m_port->transferStarted();
    m->state = POSFILE_STATE_READY;
    progressUpdate(m);
    m_downloading = true;
    return true;
}

void PosWifiTransfer::requestCancel()
{
    m_downloading = false;
    m_cancelRequested = true;
}

void PosWifiTransfer::requestFile(PosFileManager *m)
{
    const PosFileInfo &info = m_slots[m_selected[m_cursor]];
    const QString path = outputPath(m_cursor);
    const QByteArray localPath = QFile::encodeName(path);
    const int fileNumber = info.fileNumber;
    const int recordSize = m_port->posRecordSize();
    m_expectedSize = qint64(info.endAddress) - qint64(info.startAddress);
    m->expectedSize = uint32_t(m_expectedSize);
    m->fileNumber = uint32_t(fileNumber);
    m->independentPos = m_independentPos ? 1 : 0;
    int sent;
    if (range() == PosFirmwareRange::Plain) {
        sent = posfile_file_request(m, fileNumber, localPath.constData());
    } else {
        if (range() == PosFirmwareRange::ProgramCompletes)
            m->completion = 1;
        if (recordSize == 52 && m->independentPos == 1) {
            FILE *lens[POSFILE_LENS_COUNT] = {};
            vived::PosTable::openLensTables(localPath.toStdString(), lens);
            for (int i = 0; i < POSFILE_LENS_COUNT; ++i) {
                m->lensFile[i] = lens[i];
                m->lensOpen[i] = lens[i] ? 1 : 0;
            }
        }
        sent = posfile_file_request_offset(m, fileNumber, localPath.constData(),
                                           int(m_expectedSize), recordSize);
    }
    // The library refuses a table it cannot create, or a request it cannot send.
    if (sent == -1)
        fail(m, path);
}

void PosWifiTransfer::transferStep(PosFileManager *m)
{
    if (m->state == POSFILE_STATE_READY) {
        requestFile(m);
        if (!m_downloading)
            return;
    }
    if (range() != PosFirmwareRange::Confirmed) {
        if (m->state == POSFILE_STATE_COMPLETE)
            finishFile(m);
    } else {
        if (m_expectedSize == qint64(m->received)) {
            posfile_file_success(m, m_slots[m_selected[m_cursor]].fileNumber);
            m_confirmed = true;
            m_expectedSize = -1;
            m->completion = 1;
        }
        if (m_confirmed && m->state == POSFILE_STATE_COMPLETE) {
            finishFile(m);
            m->completion = 0;
        }
    }
    if (m_downloading && m->state == POSFILE_STATE_RUNNING)
        progressUpdate(m);
}

void PosWifiTransfer::finishFile(PosFileManager *m)
{
    m->activity = 0;
    m->progress = 0;
    bool written = true;
    if (m->file) {
        written = closeChecked(m->file);
        m->file = nullptr;
    }
    for (int i = 0; i < POSFILE_LENS_COUNT; ++i) {
        if (m->lensFile[i])
            written = closeChecked(m->lensFile[i]) && written;
        m->lensFile[i] = nullptr;
        m->lensOpen[i] = 0;
    }
    m_downloading = false;
    const int row = m_selected[m_cursor];
    const QString path = outputPath(m_cursor);
    if (!written) {
        fail(m, path);
        return;
    }
    qCInfo(lcPosConsole, "download success, %d", row + 1);
    emit fileFinished(row, path);
    progressUpdate(m);
    if (m_cursor < m_selected.size() - 1) {
        ++m_cursor;
        m_downloading = true;
        m->state = POSFILE_STATE_READY;
        if (range() == PosFirmwareRange::Confirmed) {
            m_confirmed = false;
            m->received = 0;
        }
        return;
    }
    emit downloadSucceeded();
}

void PosWifiTransfer::progressUpdate(PosFileManager *m)
{
    if (m_cursor < 0 || m_cursor >= m_selected.size())
        return;
    const PosFileInfo &info = m_slots[m_selected[m_cursor]];
    const qint64 size = qint64(info.endAddress) - qint64(info.startAddress);
    const uint32_t received = posfile_process(m);
    if (size <= 0) {
        emit progressChanged(0, QString());
    } else {
        // Single precision, as the label has always shown it.
        const float percent = float(received) / float(size) * 100.0f;
        const int recordSize = m_port->posRecordSize();
        emit progressChanged(int(percent), QStringLiteral("%1/%2: 共:%3个 ,已下载:%4%")
                                               .arg(m_cursor + 1)
                                               .arg(m_selected.size())
                                               .arg(recordSize > 0 ? size / recordSize : 0)
                                               .arg(double(percent), 0, 'f', 2));
    }
    // The byte count is reached before the library has flushed the tables; it goes idle after
    // that, and only then are the tables ours to close.
    if (range() != PosFirmwareRange::Confirmed && qint64(received) == size &&
        m->activity == POSFILE_ACTIVITY_IDLE)
        m->state = POSFILE_STATE_COMPLETE;
}

void PosWifiTransfer::fail(PosFileManager *m, const QString &path)
{
    m_downloading = false;
    // Stops the library's side and closes whatever it still holds; the file stays on disk.
    posfile_file_cancelRequest(m);
    emit downloadFailed(path);
}

// ---- Delete ----

bool PosWifiTransfer::startDelete(const QList<int> &rows)
{
    if (rows.isEmpty() || !listingComplete() || m_downloading || m_deleting)
        return false;
    m_selected = rows;
    m_deleteCursor = 0;
    m_deleting = true;
    return true;
}

void PosWifiTransfer::deleteStep(PosFileManager *m)
{
    if (m_slots.isEmpty()) {
        m_deleting = false;
        return;
    }
    if (m_deleteCursor < m_selected.size()) {
        const int row = m_selected[m_deleteCursor];
        const int fileNumber = m_slots[row].fileNumber;
        posfile_file_remove(m, fileNumber);
        std::memset(&m->cache[row], 0, sizeof m->cache[row]);
        qCInfo(lcPosConsole, "delete: %d", fileNumber);
        ++m_deleteCursor;
        return;
    }
    m_deleting = false;
    qCInfo(lcPosConsole, "delete success");
    startRefresh();
}
