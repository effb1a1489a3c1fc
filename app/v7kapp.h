#pragma once

#include <QString>
#include <QWidget>

#include <array>

#include "statustick.h"
#include "v7k.h"

class QLabel;
class QStackedWidget;
class QTimer;
class Mylabel;
class TitleBar;
class DeviceInfo;
class ConfigTesUi;
class CollectAssistant;
class DownloadData;
class DataService;
class ReductionWidget;

// The one top-level window: title bar, navigation, live status panel and the content pages.
// It also holds the connection state that every page tests before it talks to the camera.
class V7KAPP : public QWidget
{
    Q_OBJECT
public:
    static V7KAPP *instance();

    // Shared state, read and written by the pages through instance().
    void *deviceContext = nullptr;
    bool isConnected = false;
    int linkKind = 0;
    int cameraConnected = 0;
    bool workParamLoadPending = true;
    QString firmwareVersionText;
    const char *serialText = "";
    int posRecordSize = 0;
    int cardRestoreResult[5] = {1, 1, 1, 1, 1};
    volatile bool cardsPresent = false;
    QWidget *upgradeWindow = nullptr;

    struct Pages
    {
        DeviceInfo *deviceInfo = nullptr;
        ConfigTesUi *configTest = nullptr;
        CollectAssistant *collectAssistant = nullptr;
        DownloadData *downloadData = nullptr;
        DataService *dataService = nullptr;
        ReductionWidget *reduction = nullptr;
    } pages;

    void showConnectedState();
    void showDisconnectedState();
    void resetCameraIcons();
    void restoreWorkMode();

    TitleBar *titleBar() const { return m_titleBar; }
    Mylabel *navigationEntry(int index) const { return m_entries[index]; }
    Mylabel *networkEntry() const { return m_netEntry; }
    QStackedWidget *contentArea() const { return m_stack; }
    QWidget *statusPanel() const { return m_panel; }
    QLabel *panelLabel(const char *objectName) const;
    QTimer *tickTimer() const { return m_timer; }
    int cardChecksStarted() const { return m_cardChecks; }

signals:
    // The first valid work parameters of this run, for the strategy page.
    void workParamsArrived(const WorkParam &param);
    // Every tick with a device: the counters of the shutter-test page.
    void countersRefreshed(const StatusView &view);

public slots:
    void onClicked();
    void onenterEvent();
    void onleaveEvent();
    void onenterEvent1();
    void onleaveEvent1();
    void onTimeout();

private:
    explicit V7KAPP(QWidget *parent = nullptr);
    void buildStatusPanel();
    void buildNavigation();
    void selectEntry(int index);
    void showPage(int index);
    void startCardCheck();
    void changeWorkMode(int mode);
    void setIcon(StatusView::Slot slot, StatusView::Icon icon);

    TitleBar *m_titleBar = nullptr;
    QWidget *m_panel = nullptr;
    std::array<QLabel *, StatusView::SlotCount> m_cameraIcons{};
    QLabel *m_faultText = nullptr;   // label_19
    QLabel *m_gpsText = nullptr;     // label_12
    QLabel *m_caption = nullptr;     // label_9
    QLabel *m_strategy = nullptr;    // label_18
    QLabel *m_photos = nullptr;      // label_6
    QLabel *m_sats = nullptr;        // label_7
    QList<QWidget *> m_panelChildren;
    std::array<Mylabel *, 6> m_entries{};
    Mylabel *m_netEntry = nullptr;
    QStackedWidget *m_stack = nullptr;
    QLabel *m_startText = nullptr;   // label_3
    QTimer *m_timer = nullptr;
    int m_cardChecks = 0;
};
