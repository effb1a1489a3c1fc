#pragma once

#include <QString>
#include <QWidget>

#include <array>

#include "statustick.h"

class QLabel;
class QStackedWidget;
class CameraLink;
class Mylabel;
class TitleBar;
class DeviceInfo;
class ConfigTesUi;
class CollectAssistant;
class DownloadData;
class DataService;
class ReductionWidget;

// The one top-level window: title bar, navigation, live status panel and the content pages. It
// observes the camera link like every page does.
class V7KAPP : public QWidget
{
    Q_OBJECT
public:
    static V7KAPP *instance();

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

    TitleBar *titleBar() const { return m_titleBar; }
    Mylabel *navigationEntry(int index) const { return m_entries[index]; }
    Mylabel *networkEntry() const { return m_netEntry; }
    QStackedWidget *contentArea() const { return m_stack; }
    QWidget *statusPanel() const { return m_panel; }
    QLabel *panelLabel(const char *objectName) const;
    CameraLink *link() const { return m_link; }

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
    void clearPanelTexts();

    CameraLink *m_link = nullptr;

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
};
