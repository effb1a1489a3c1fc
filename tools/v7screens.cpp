// Renders every window, page and dialog of the program to PNG files, offscreen, so that their
// look can be checked without a display: v7screens DIR
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QMouseEvent>
#include <QStackedWidget>
#include <QTextEdit>
#include <QTimer>

#include <cstdio>
#include <cstring>
#include <functional>

#include <QTemporaryDir>

#include "airserial.h"
#include "cameralink.h"
#include "dataservice.h"
#include "deviceinfo.h"
#include "framestyle.h"
#include "myflyui.h"
#include "mylabel.h"
#include "mytipui.h"
#include "offloadrun.h"
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

// Runs the event loop until done() holds or a minute has passed.
bool waitFor(const std::function<bool()> &done)
{
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > 60000)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

void click(QWidget *widget)
{
    const QPointF at(widget->width() / 2.0, widget->height() / 2.0);
    QMouseEvent press(QEvent::MouseButtonPress, at, widget->mapToGlobal(at), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(widget, &press);
}

// The offload page in its four states: empty, five cameras and a POS table set up, running
// at about half, completed. The cards are the demo's, under V7_MEDIA_ROOT; every camera is
// held at its middle file (V7_OFFLOAD_FAULT, set in main) until the release file appears.
void offloadScreens(V7KAPP *window, const QString &work)
{
    const QString release = QDir(work).filePath(QStringLiteral("release"));
    DataService *page = window->pages.dataService;
    click(window->navigationEntry(4));
    save(window, "offload_empty");

    const QString media = qEnvironmentVariable("V7_MEDIA_ROOT");
    if (media.isEmpty()) {
        std::fprintf(stderr, "v7screens: no V7_MEDIA_ROOT; the offload states are left out\n");
        return;
    }
    for (int camera : OffloadPlan::IconOrder)
        page->selectCameraFolder(camera,
                                 QDir(media).filePath(QLatin1String(Cameras::folderName(camera)) +
                                                      QStringLiteral("/DCIM/100MSDCF")));
    const QString target = QDir(work).filePath(QStringLiteral("offload-target"));
    QDir().mkpath(target);
    page->setTargetFolder(target);
    page->addPosFile(QDir::cleanPath(QDir(media).filePath(QStringLiteral("../pos/flight1.xls"))));
    page->sortieBox()->setChecked(true);
    const bool ready = waitFor([page] {
        for (int camera = 0; camera < Cameras::Count; ++camera) {
            if (!page->plan().selected(camera))
                return false;
        }
        return !page->plan().pos().isEmpty();
    });
    if (!ready) {
        std::fprintf(stderr, "v7screens: the demo cards could not be set up\n");
        return;
    }
    QCoreApplication::processEvents();
    save(window, "offload_setup");

    click(page->startButton());
    // Held before writing file 8 of 12, a camera has done 6: the engine keeps two in hand.
    waitFor([page] { return page->run()->progress().filesDone >= Cameras::Count * 6; });
    // A reading now, while the files of the last moments still count for the speed.
    page->onTimeout();
    save(window, "offload_running");

    QFile(release).open(QIODevice::WriteOnly);
    QTimer answer;
    QObject::connect(&answer, &QTimer::timeout, [window] {
        if (auto *box = qobject_cast<MyFlyUi *>(QApplication::activeModalWidget())) {
            save(box, "offload_completed_prompt");
            box->accept();
        }
    });
    answer.start(20);
    waitFor(
        [page] { return page->textArea()->toPlainText().contains(QStringLiteral("传输已完成")); });
    save(window, "offload_completed");
    waitFor([page] { return page->isCompleted(); });
    click(window->navigationEntry(0));
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
    // Every camera of the offload screens stops half way (file 8 of the demo's 12, two more
    // in hand) until released.
    QTemporaryDir holds;
    const QString release = holds.filePath(QStringLiteral("release"));
    QByteArray faults;
    for (int camera = 0; camera < Cameras::Count; ++camera)
        faults += QByteArray::number(camera) + ":8:start:wait:" + QFile::encodeName(release) + ',';
    qputenv("V7_OFFLOAD_FAULT", faults);
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
    CameraLink::instance()->setDeviceHandleForTesting(nullptr);

    offloadScreens(window, holds.path());

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
