// Renders every window, page and dialog of the program to PNG files, offscreen, so that their
// look can be checked without a display: v7screens DIR
#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QStackedWidget>
#include <QTimer>

#include <cstdio>
#include <cstring>

#include "airserial.h"
#include "cameralink.h"
#include "collectassistant.h"
#include "configtesui.h"
#include "deviceinfo.h"
#include "framestyle.h"
#include "gatherstrategyoptui.h"
#include "myflyui.h"
#include "mylabel.h"
#include "mytipui.h"
#include "qnetconfig.h"
#include "shengjiui.h"
#include "titlebar.h"
#include "updataui.h"
#include "v7kapp.h"

namespace {

QDir g_out;

void save(QWidget *widget, const char *name)
{
    widget->ensurePolished();
    const QString path = g_out.filePath(QString::fromLatin1(name) + QStringLiteral(".png"));
    if (!widget->grab().save(path))
        std::fprintf(stderr, "v7screens: cannot write %s\n", qPrintable(path));
    else
        std::printf("%s\n", qPrintable(path));
}

// A camera in flight: timed trigger, one faulty lens, GPS fixed.
v7k_context sampleContext()
{
    v7k_context context{};
    context.state = V7K_STATE_GPS_GOOD;
    context.photoCount = 1286;
    context.satellites = 14;
    context.workParam.mode = 2;
    context.workParam.timeInterval = 20;
    for (quint16 &count : context.cameraPhotos)
        count = 1286;
    context.hardwareVersion = 2;
    std::strcpy(context.serial, "V7K5-20260418");
    context.firmwareMajor = 4;
    context.firmwareMinor = 52;
    context.cameraState = 0b11011;
    context.selfTest = 1;
    std::strcpy(context.buildDate, "Nov 20 2026");
    return context;
}

void press(QWidget *button)
{
    const QPointF at(button->width() / 2.0, button->height() / 2.0);
    QMouseEvent down(QEvent::MouseButtonPress, at, button->mapToGlobal(at), Qt::LeftButton,
                     Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(button, &down);
    QMouseEvent up(QEvent::MouseButtonRelease, at, button->mapToGlobal(at), Qt::LeftButton,
                   Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(button, &up);
}

// The strategy page on each editor after the camera's record arrived, the debugging page with a
// faulty back camera, and the planning page after a calculation too fast for the camera.
void saveStrategyAndPlanning(V7KAPP *window, v7k_context &context)
{
    WorkParam &p = context.workParam;
    p.mode = 2;
    p.activation = 3;
    p.activationLevel = 1;
    p.powerOnDelay = 8;
    p.activationAltitude = 120;
    p.manualDelay = 30;
    p.pulseTime = 125;
    p.pulsePeriod = 200;
    p.pulseDuration = 40;
    p.ioLevel = 1;
    p.ioDuration = 20;
    p.edgeRising = 1;
    p.timeInterval = 25;
    p.distanceInterval = 500;
    context.landingGear = 1;
    window->onTimeout();
    GatherStrategyOptUi *strategy = GatherStrategyOptUi::instance();
    strategy->loadFromCamera(p);
    press(window->navigationEntry(1));
    const char *const names[] = {"strategy_distance", "strategy_timer", "strategy_edge",
                                 "strategy_io", "strategy_pwm"};
    for (int page = 0; page < GatherStrategyOptUi::PageCount; ++page) {
        press(strategy->modeButton(GatherStrategyOptUi::Page(page)));
        save(window, names[page]);
    }

    context.photoCount = 342;
    const quint16 photos[5] = {342, 342, 327, 342, 342};
    std::copy(std::begin(photos), std::end(photos), context.cameraPhotos);
    context.cameraState = 0x1b;
    CameraLink::instance()->onTick();
    press(window->pages.configTest->debugTab());
    save(window, "strategy_debug");
    press(window->pages.configTest->strategyTab());

    CollectAssistant *planning = window->pages.collectAssistant;
    press(window->navigationEntry(2));
    planning->gsdEdit()->setText(QStringLiteral("3"));
    planning->speedEdit()->setText(QStringLiteral("35"));
    press(planning->calculateButton());
    save(window, "planning_calculated");
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: v7screens DIR\n");
        return 2;
    }
    g_out = QDir(QString::fromLocal8Bit(argv[1]));
    if (!g_out.mkpath(QStringLiteral(".")))
        return 1;
    FrameStyle::registerFontSubstitutions();

    V7KAPP *window = V7KAPP::instance();
    window->show();
    save(window, "mainwindow_start");

    AirSerial *settings = AirSerial::instance(window);
    settings->show();
    save(settings, "settings_not_connected");
    UpdataUi offline;
    offline.show();
    save(&offline, "update_window_not_connected");

    // A connected camera without a simulator behind it.
    static v7k_context context = sampleContext();
    CameraLink::instance()->setDeviceHandleForTesting(&context);
    window->onTimeout();
    save(window, "mainwindow_connected");
    save(settings, "settings_connected");
    settings->hide();

    window->pages.deviceInfo->onTimeout1();
    window->pages.deviceInfo->onTimeout2();
    save(window, "deviceinfo_connected");

    UpdataUi update;
    update.show();
    save(&update, "update_window");
    ShengJiUi progress(window);
    progress.showProgressForPreview(40);
    progress.show();
    save(&progress, "upgrade_progress_40");
    progress.showSuccessForPreview();
    save(&progress, "upgrade_success");
    progress.progressTimer()->stop();
    for (int page = 1; page < 6; ++page) {
        window->contentArea()->setCurrentIndex(page);
        save(window, qPrintable(QStringLiteral("mainwindow_page%1").arg(page)));
    }
    window->contentArea()->setCurrentIndex(0);

    context.selfTest = 0;
    window->onTimeout();
    save(window, "mainwindow_selftest");
    context.selfTest = 1;
    saveStrategyAndPlanning(window, context);
    CameraLink::instance()->setDeviceHandleForTesting(nullptr);

    save(window->titleBar(), "titlebar");

    MyTipUi tip(window);
    tip.show();
    save(&tip, "mytipui");

    MyFlyUi fly(window);
    fly.label_2->setText(QStringLiteral("相机未连接！"));
    fly.show();
    save(&fly, "myflyui");

    MyFlyUi busy(window);
    busy.label_2->setText(QStringLiteral("正在恢复，请稍候……"));
    busy.rotating->show();
    busy.okImage->hide();
    busy.okText->hide();
    busy.onTimeout();
    busy.show();
    save(&busy, "myflyui_busy");
    return 0;
}
