// The USB side of the POS download page: the camera's POS drive, its listing and the tables
// written from its files. Listing, volume query and table writing run on worker threads.
#include "downloaddata.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QDebug>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QTableWidget>
#include <QThread>
#include <QTimer>

#include "cameralink.h"
#include "mylabel.h"
#include "posnames.h"
#include "posusbdownload.h"
#include "poswifitransfer.h"
#include "prompt.h"
#include "volumequery.h"
#include "workerthread.h"

namespace {
QString findPosDriveRoot()
{
    for (const MountedVolume &volume : VolumeQuery::mountedVolumes()) {
        if (volume.label.contains(QLatin1String(PosUsbDrive::kLabel)))
            return volume.mountRoot;
    }
    return {};
}
} // namespace

void DownloadData::runOnWorker(const std::function<void()> &work)
{
    QThread *thread = WorkerThread::create("pos worker", work);
    connect(thread, &QThread::finished, thread, &QObject::deleteLater);
    thread->start();
}

void DownloadData::findDrive()
{
    QPointer<DownloadData> self(this);
    runOnWorker([self] {
        const QString root = findPosDriveRoot();
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [self, root] {
                if (!self)
                    return;
                self->m_usbRoot = root;
                self->m_usbPresent = !root.isEmpty();
                self->applyAvailability();
                if (!self->m_usbPresent && self->m_source == Usb && !self->m_usbWorker) {
                    // The drive's files went with it.
                    self->m_usbFiles.clear();
                    self->m_table->setRowCount(0);
                }
            },
            Qt::QueuedConnection);
    });
}

void DownloadData::applyAvailability()
{
    const bool wifi = m_link->isConnected();
    m_availability = m_usbPresent ? (wifi ? UsbAndWifi : UsbOnly) : (wifi ? WifiOnly : Neither);
    setButtonImage(m_wifiButton, wifi ? "btn_WIFI_pre.png" : "btn_WIFI_nor.png");
    setButtonImage(m_usbButton, m_usbPresent ? "btn_USB_pre.png" : "btn_USB_nor.png");
    // A running download keeps the other sources shut until it ends.
    const bool busy = m_transfer->downloading() || m_usbWorker;
    m_wifiButton->setEnabled(wifi && !busy);
    m_usbButton->setEnabled(m_usbPresent && !busy);
}

void DownloadData::usbClicked()
{
    if (m_link->isConnected())
        setButtonImage(m_wifiButton, "btn_WIFI_pre.png");
    m_timer->stop();
    m_transfer->reset();
    m_usbSelected.clear();
    m_usbFiles.clear();
    m_source = Usb;
    setColumns(Usb);
    // The other view's last words (a WiFi download's "下载成功！") are not this view's.
    m_text->clear();
    m_progress->setValue(0);
    setButtonImage(m_usbButton, "btn_USB_pre.png");
    listUsb();
}

void DownloadData::listUsb()
{
    const QByteArray serial = m_link->serialText();
    if (serial.isEmpty()) {
        Prompt::inform(this, QStringLiteral("需要首先获取相机SN号！"));
        return;
    }
    const int recordSize = v7k_pos_record_size(serial.constData());
    const QString root = m_usbRoot;
    QPointer<DownloadData> self(this);
    runOnWorker([self, root, recordSize] {
        const QVector<PosUsbFile> files = PosUsbDrive::list(root, recordSize);
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [self, files] {
                if (self)
                    self->usbListed(files);
            },
            Qt::QueuedConnection);
    });
}

void DownloadData::usbListed(const QVector<PosUsbFile> &files)
{
    if (m_source != Usb)
        return;
    m_usbFiles = files;
    m_table->setRowCount(0);
    for (const PosUsbFile &file : files)
        appendRow({QString::number(file.number), file.timeText, QString::number(file.points)});
}

void DownloadData::startUsbDownload()
{
    if (m_usbFiles.size() != PosWifiTransfer::kSlotCount || m_usbWorker) {
        Prompt::inform(this, m_usbWorker ? QStringLiteral("正在下载POS文件，请稍候！")
                                         : QStringLiteral("正在读取POS列表，请稍候！"));
        return;
    }
    setButtonImage(m_downloadButton, "btn_download_hover.png");
    m_usbSelected = checkedRows();
    if (m_usbSelected.isEmpty()) {
        setButtonImage(m_downloadButton, "btn_download_nor.png");
        Prompt::inform(this, QStringLiteral("请先勾选要下载的POS文件！"));
        return;
    }
    const QString path =
        askSavePath(PosNames::suggestedName(m_usbFiles[m_usbSelected.first()].compactTime));
    if (path.isEmpty()) {
        setButtonImage(m_downloadButton, "btn_download_nor.png");
        return;
    }
    QVector<PosUsbDownload::Item> items;
    for (int j = 0; j < m_usbSelected.size(); ++j) {
        const PosUsbFile &file = m_usbFiles[m_usbSelected[j]];
        items.append(
            {file.path, PosNames::outputPath(path, int(m_usbSelected.size()), file.number - 1)});
    }
    const int recordSize = v7k_pos_record_size(m_link->serialText().constData());
    const bool perLens = recordSize == 52 && m_fiveLens && m_independent->isChecked();
    auto *job = new PosUsbDownload(items, recordSize, perLens);
    connect(job, &PosUsbDownload::progress, this, [this](int percent, const QString &text) {
        m_progress->setValue(percent);
        m_text->setText(text);
    });
    connect(job, &PosUsbDownload::finished, this, &DownloadData::usbFinished);
    m_usbWorker = WorkerThread::create("pos usb", [job] { job->run(); });
    connect(m_usbWorker, &QThread::finished, job, &QObject::deleteLater);
    connect(m_usbWorker, &QThread::finished, m_usbWorker, &QObject::deleteLater);
    connect(m_usbWorker, &QThread::finished, this, [this] {
        m_usbWorker = nullptr;
        applyAvailability();
        m_deleteButton->setEnabled(true);
    });
    m_progress->setValue(0);
    m_text->clear();
    m_wifiButton->setEnabled(false);
    m_usbButton->setEnabled(false);
    m_deleteButton->setEnabled(false);
    m_usbWorker->start();
}

void DownloadData::usbFinished(bool ok, const QString &failedPath, const QString &error)
{
    setButtonImage(m_downloadButton, "btn_download_nor.png");
    if (ok) {
        m_progress->setValue(100);
        m_text->setText(QStringLiteral("下载成功！"));
        return;
    }
    qWarning().noquote() << "POS drive download stopped:" << error;
    m_progress->setValue(0);
    m_text->clear();
    Prompt::inform(this, QStringLiteral("保存文件失败！"), failedPath);
}
