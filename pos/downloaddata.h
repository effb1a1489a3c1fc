#pragma once

#include <QList>
#include <QString>
#include <QVector>
#include <QWidget>

#include <functional>
#include <memory>

#include "posusbdrive.h"
#include "v7k.h"

class CameraLink;
class Mylabel;
class PosLinkPort;
class PosSlotRow;
class PosWifiTransfer;
class QCheckBox;
class QLabel;
class QProgressBar;
class QTableWidget;
class QThread;
class QTimer;

// The POS download page: the camera's POS files over WiFi (through the transfer manager of the
// camera link) or from its POS drive over USB, into tab-separated tables, with the five
// per-lens tables on request; deletes files on the camera.
class DownloadData : public QWidget
{
    Q_OBJECT
public:
    enum Availability { UsbAndWifi = 0, UsbOnly = 1, WifiOnly = 2, Neither = 3 };
    enum Source { Wifi = 0, Usb = 1 };
    enum class Look { Downloading, Cancelled, Success };
    using SavePathChooser = std::function<QString(const QString &suggestedName)>;

    static DownloadData *instance();
    explicit DownloadData(QWidget *parent = nullptr);
    ~DownloadData() override;

    // Page entry: looks for the POS drive and sets the WiFi and USB buttons.
    void refreshModeButtons();
    // WiFi view entry, while the link is up: a fresh listing of the camera's slots.
    void refreshTable();
    // Shows or hides the widgets of the five-lens record layout (52-byte records).
    void setFiveLensLayout(bool fiveLens);
    bool fiveLensLayout() const { return m_fiveLens; }

    // The WiFi transfer manager of the connected camera; null while not connected.
    PosFileManager *manager() const;
    // Empties the record table, the status text and the progress bar (link down).
    void clearRecords();

    // ---- For the tests and the screenshots ----
    void setSavePathChooser(SavePathChooser chooser) { m_chooseSavePath = std::move(chooser); }
    Mylabel *wifiButton() const { return m_wifiButton; }
    Mylabel *usbButton() const { return m_usbButton; }
    Mylabel *downloadButton() const { return m_downloadButton; }
    Mylabel *deleteButton() const { return m_deleteButton; }
    QTableWidget *table() const { return m_table; }
    QProgressBar *progressBar() const { return m_progress; }
    QLabel *textLabel() const { return m_text; }
    QCheckBox *independentBox() const { return m_independent; }
    QLabel *noteLabel() const { return m_note; }
    QTimer *timer() const { return m_timer; }
    PosWifiTransfer *transfer() const { return m_transfer; }
    QCheckBox *rowCheckBox(int row) const;
    int availability() const { return m_availability; }
    int source() const { return m_source; }
    QString usbRoot() const { return m_usbRoot; }
    const QVector<PosUsbFile> &usbFiles() const { return m_usbFiles; }
    bool usbBusy() const { return m_usbWorker != nullptr; }
    void showLook(Look look);

public slots:
    void onClicked();
    void onClickleave();
    void onTimeout();
    void slotDeviceAdded(const QString &dev);
    void slotDeviceRemoved(const QString &dev);
    void onStateChanged(int a);

private:
    void buildForm();
    void setColumns(Source source);
    void appendRow(const QStringList &cells);
    QList<int> checkedRows() const;
    QString askSavePath(const QString &suggestedName);
    void findDrive();
    void applyAvailability();
    void setButtonImage(Mylabel *button, const char *image);

    void wifiClicked();
    void downloadClicked();
    void deleteClicked();
    void slotListed(int index, const PosSlotRow &row);
    void downloadFailed(const QString &path);
    // What a cancelled WiFi download left: the tables finished whole and the one cut short.
    QString cancelledText() const;

    void usbClicked();
    void listUsb();
    void usbListed(const QVector<PosUsbFile> &files);
    void startUsbDownload();
    void usbFinished(bool ok, const QString &failedPath, const QString &error);
    void runOnWorker(const std::function<void()> &work);

    CameraLink *m_link = nullptr;
    std::unique_ptr<PosLinkPort> m_port;
    PosWifiTransfer *m_transfer = nullptr;
    Mylabel *m_wifiButton = nullptr;
    Mylabel *m_usbButton = nullptr;
    Mylabel *m_downloadButton = nullptr;
    Mylabel *m_deleteButton = nullptr;
    QTableWidget *m_table = nullptr;
    QProgressBar *m_progress = nullptr;
    QLabel *m_text = nullptr;
    QCheckBox *m_independent = nullptr;
    QLabel *m_note = nullptr;
    QTimer *m_timer = nullptr;
    SavePathChooser m_chooseSavePath;

    bool m_fiveLens = false;
    bool m_usbPresent = false;
    QString m_usbRoot;
    int m_availability = UsbAndWifi;
    int m_source = Wifi;
    QVector<PosUsbFile> m_usbFiles;
    QStringList m_wifiPaths; // the tables of the WiFi download under way, in order
    int m_wifiDone = 0;      // of them finished whole
    QList<int> m_usbSelected;
    QThread *m_usbWorker = nullptr;
};
