#include "v7kapp.h"

#include <QLabel>
#include <QStackedWidget>

#include "airserial.h"
#include "cameracards.h"
#include "cameralink.h"
#include "checkv7thread.h"
#include "collectassistant.h"
#include "configtesui.h"
#include "dataservice.h"
#include "deviceinfo.h"
#include "downloaddata.h"
#include "framestyle.h"
#include "mylabel.h"
#include "reductionwidget.h"
#include "titlebar.h"
#include "look.h"

namespace {

struct EntryImages
{
    const char *normal;
    const char *selected;
};

constexpr EntryImages kEntryImages[6] = {
    {"deviceInfo_normal.png", "deviceInfo_selected.png"},
    {"configTest_normal.png", "configTest_selected.png"},
    {"collectAssistant_normal.png", "collectAssistant_selected.png"},
    {"posnor.png", "possele.png"},
    {"yingxiangnor.png", "yingxiangsele.png"},
    {"yingxiangqingkongnor.png", "yingxiangqingkongselect.png"},
};


const char *const kSmallGood = "smallCamera_white.png";
const char *const kSmallFault = "smallCamera_yellow.png";
const char *const kLargeGood = "largeCamera_white.png";
const char *const kLargeFault = "largeCamera_yellow.png";

} // namespace

V7KAPP *V7KAPP::instance()
{
    static V7KAPP *window = new V7KAPP();
    return window;
}

V7KAPP::V7KAPP(QWidget *parent)
    : QWidget(parent)
    , m_link(CameraLink::instance())
{
    setObjectName(QStringLiteral("V7KAPPClass"));
    setWindowTitle(QStringLiteral("V7KAPP"));
    setFixedSize(760, 540);
    buildStatusPanel();

    FrameStyle::makeFramelessRounded(this);
    m_titleBar = new TitleBar(this);
    m_titleBar->move(0, 0);
    installEventFilter(m_titleBar);
    FrameStyle::setScaledBackground(this, Look::resource("frame_bk1.png"));

    m_startText = new QLabel(QStringLiteral("VestraneAssistant V1.3.3"), this);
    m_startText->setObjectName(QStringLiteral("label_3"));
    m_startText->setGeometry(256, 250, 141, 20);
    m_startText->setFont(Look::font(10));
    m_startText->setStyleSheet(QStringLiteral("color: rgb(255, 255, 255);"));

    buildNavigation();

    m_stack = new QStackedWidget(this);
    m_stack->setGeometry(154, 32, 606, 508);
    pages.deviceInfo = new DeviceInfo(m_stack);
    connect(pages.deviceInfo, &DeviceInfo::upgradeOffered, this,
            [this] { AirSerial::instance(this)->hide(); });
    pages.configTest = new ConfigTesUi(m_stack);
    pages.collectAssistant = new CollectAssistant(m_stack);
    pages.downloadData = DownloadData::instance();
    pages.dataService = DataService::instance();
    pages.reduction = ReductionWidget::instance();
    for (QWidget *page : std::initializer_list<QWidget *>{
             pages.deviceInfo, pages.configTest, pages.collectAssistant, pages.downloadData,
             pages.dataService, pages.reduction})
        m_stack->addWidget(page);
    m_stack->hide();
    connect(m_titleBar, &TitleBar::signalclose, pages.dataService, &DataService::onsignalclose);

    m_netEntry = new Mylabel(this);
    m_netEntry->setGeometry(0, 499, 154, 42);
    m_netEntry->setPixmap(Look::picture("new duan.png"));
    connect(m_netEntry, &Mylabel::clicked, this, &V7KAPP::onClicked);
    connect(m_netEntry, qOverload<>(&Mylabel::enterEvent), this, &V7KAPP::onenterEvent);
    connect(m_netEntry, qOverload<>(&Mylabel::leaveEvent), this, &V7KAPP::onleaveEvent);

    for (QWidget *child : std::as_const(m_panelChildren))
        child->hide();
    m_entries[1]->setEnabled(false);

    connect(m_link, &CameraLink::connected, this, &V7KAPP::showConnectedState);
    // A camera being read afresh (a connect, a restart after an upgrade) starts from a clean
    // panel: nothing of the last camera stays on show.
    connect(m_link, &CameraLink::identityChanged, this, [this] {
        if (m_link->identityKnown())
            return;
        resetCameraIcons();
        clearPanelTexts();
    });
    connect(m_link, &CameraLink::disconnected, this, &V7KAPP::showDisconnectedState);
    connect(m_link, &CameraLink::statusRefreshed, this, &V7KAPP::onTimeout);
}

void V7KAPP::buildStatusPanel()
{
    m_panel = new QWidget(this);
    m_panel->setObjectName(QStringLiteral("widget"));
    m_panel->setGeometry(0, 172, 154, 367);
    FrameStyle::setScaledBackground(m_panel, Look::resource("leftitems_bk.png"));

    const QFont yahei = Look::font();
    auto label = [this, &yahei](const char *name, int x, int y, int w, int h, bool font = true) {
        auto *l = new QLabel(m_panel);
        l->setObjectName(QString::fromLatin1(name));
        l->setGeometry(x, y, w, h);
        l->setStyleSheet(QStringLiteral("color: rgb(255, 255, 255);"));
        if (font)
            l->setFont(yahei);
        m_panelChildren << l;
        return l;
    };
    auto icon = [&](const char *name, int x, int y, int w, int h, const char *image) {
        QLabel *l = label(name, x, y, w, h, false);
        l->setPixmap(Look::picture(image));
        l->setScaledContents(true);
        return l;
    };
    m_cameraIcons[StatusView::Label13] = icon("label_13", 61, 80, 25, 20, kSmallGood);
    m_cameraIcons[StatusView::Label17] = icon("label_17", 100, 110, 25, 20, kSmallGood);
    m_cameraIcons[StatusView::Label15] = icon("label_15", 61, 142, 25, 20, kSmallGood);
    m_cameraIcons[StatusView::Label14] = icon("label_14", 20, 110, 25, 20, kSmallGood);
    m_cameraIcons[StatusView::Label16] = icon("label_16", 58, 108, 31, 24, kLargeGood);
    m_faultText = label("label_19", 10, 180, 141, 41);
    m_faultText->setWordWrap(true);
    m_gpsText = label("label_12", 40, 230, 81, 21);
    m_caption = label("label_9", 25, 271, 60, 17);
    m_caption->setText(QStringLiteral("采集策略："));
    m_strategy = label("label_18", 91, 271, 61, 17);
    icon("label_10", 20, 310, 21, 21, "pictures.png");
    m_photos = label("label_6", 50, 310, 31, 21);
    icon("label_11", 90, 310, 21, 21, "sats.png");
    m_sats = label("label_7", 120, 310, 21, 21);
}

void V7KAPP::buildNavigation()
{
    for (int i = 0; i < 6; ++i) {
        auto *entry = new Mylabel(this);
        entry->setGeometry(0, 32 + 36 * i, 154, 36);
        entry->setPixmap(Look::picture(i == 0 ? kEntryImages[i].selected : kEntryImages[i].normal));
        connect(entry, &Mylabel::clicked, this, &V7KAPP::onClicked);
        connect(entry, qOverload<>(&Mylabel::enterEvent), this, &V7KAPP::onenterEvent1);
        connect(entry, qOverload<>(&Mylabel::leaveEvent), this, &V7KAPP::onleaveEvent1);
        m_entries[i] = entry;
    }
}

QLabel *V7KAPP::panelLabel(const char *objectName) const
{
    return m_panel->findChild<QLabel *>(QString::fromLatin1(objectName));
}

void V7KAPP::selectEntry(int index)
{
    for (int i = 0; i < 6; ++i)
        m_entries[i]->setPixmap(
            Look::picture(i == index ? kEntryImages[i].selected : kEntryImages[i].normal));
}

void V7KAPP::showPage(int index)
{
    m_stack->show();
    m_stack->setCurrentIndex(index);
}

void V7KAPP::changeWorkMode(int mode)
{
    if (void *device = m_link->deviceHandle())
        v7k_change_work_mode(device, mode);
}

void V7KAPP::onClicked()
{
    QObject *from = sender();
    if (from == m_netEntry) {
        QWidget *settings = AirSerial::instance(this);
        settings->setWindowModality(Qt::WindowModal);
        settings->move(x() + width() / 3, y() + height() / 3);
        settings->show();
        return;
    }
    const int index = int(std::find(m_entries.begin(), m_entries.end(), from) - m_entries.begin());
    if (index >= 6)
        return;
    selectEntry(index);
    showPage(index);
    switch (index) {
    case 0:
        if (m_link->isConnected())
            changeWorkMode(1);
        else
            pages.deviceInfo->hideValueFields();
        break;
    case 1:
        changeWorkMode(0);
        break;
    case 2:
        changeWorkMode(1);
        break;
    case 3:
        pages.downloadData->refreshModeButtons();
        pages.downloadData->refreshTable();
        if (const int size = m_link->posRecordSize(); size == 0 || size == -1 || size == 32)
            pages.downloadData->setFiveLensLayout(false);
        else if (size == 52)
            pages.downloadData->setFiveLensLayout(true);
        changeWorkMode(0);
        break;
    case 4:
        pages.dataService->offerResume();
        break;
    case 5:
        startCardCheck();
        break;
    }
}

void V7KAPP::startCardCheck()
{
    // The cards come from the one place that knows them, never from another page's fields.
    CameraCards *cards = CameraCards::instance();
    auto *check = new CheckV7Thread(cards->checkPaths(), this);
    connect(check, &CheckV7Thread::cardStorage, pages.reduction, &ReductionWidget::setStorage);
    connect(check, &CheckV7Thread::storageRefresh, pages.reduction, &ReductionWidget::refreshStorage);
    connect(check, &CheckV7Thread::upgrade, pages.reduction, &ReductionWidget::UpGrade);
    connect(check, &CheckV7Thread::popui, pages.reduction, &ReductionWidget::poptip);
    connect(check, &QThread::finished, check, &QObject::deleteLater);
    check->start(QThread::InheritPriority);
}

void V7KAPP::onenterEvent()
{
    if (!m_link->isConnected())
        m_netEntry->setPixmap(Look::picture("net duan xuan.png"));
    else if (m_link->linkKind() == 2)
        m_netEntry->setPixmap(Look::picture("wifi-xuan.png"));
}

void V7KAPP::onleaveEvent()
{
    if (!m_link->isConnected())
        m_netEntry->setPixmap(Look::picture("new duan.png"));
    else if (m_link->linkKind() == 2)
        m_netEntry->setPixmap(Look::picture("wifi.png"));
}

void V7KAPP::onenterEvent1()
{
}

void V7KAPP::onleaveEvent1()
{
}

void V7KAPP::showConnectedState()
{
    for (QWidget *child : std::as_const(m_panelChildren))
        child->show();
    m_entries[1]->setEnabled(true);
    m_entries[3]->setEnabled(true);
    selectEntry(0);
    m_netEntry->setPixmap(Look::picture("wifi.png"));
    showPage(0);
}

void V7KAPP::showDisconnectedState()
{
    for (QWidget *child : std::as_const(m_panelChildren))
        child->hide();
    m_entries[1]->setEnabled(false);
    selectEntry(0);
    m_netEntry->setPixmap(Look::picture("new duan.png"));
    showPage(0);
}

void V7KAPP::resetCameraIcons()
{
    for (int slot = 0; slot < StatusView::SlotCount; ++slot)
        setIcon(StatusView::Slot(slot), StatusView::Icon::Good);
}

void V7KAPP::clearPanelTexts()
{
    for (QLabel *text : {m_faultText, m_gpsText, m_strategy, m_photos, m_sats})
        text->clear();
    m_caption->setText(QStringLiteral("采集策略："));
}

void V7KAPP::setIcon(StatusView::Slot slot, StatusView::Icon icon)
{
    if (icon == StatusView::Icon::Unchanged)
        return;
    const bool good = icon == StatusView::Icon::Good;
    const bool large = slot == StatusView::Label16;
    m_cameraIcons[slot]->setPixmap(
        Look::picture(large ? (good ? kLargeGood : kLargeFault) : (good ? kSmallGood : kSmallFault)));
}

// The status panel's refresh, on every status the link finds current.
void V7KAPP::onTimeout()
{
    const v7k_context *device = m_link->deviceHandle();
    if (!device || !m_link->statusCurrent())
        return;
    const StatusView view = StatusTick::evaluate(*device);

    m_strategy->setText(view.strategyText);
    m_caption->setText(view.strategyCaption);
    for (int slot = 0; slot < StatusView::SlotCount; ++slot)
        setIcon(StatusView::Slot(slot), view.icons[slot]);
    m_photos->setText(view.photoCount);
    m_sats->setText(view.satellites);
    if (view.gpsText)
        m_gpsText->setText(*view.gpsText);
    if (view.faultText)
        m_faultText->setText(*view.faultText);
}
