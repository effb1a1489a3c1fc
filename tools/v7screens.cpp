// Renders every window, page and dialog of the program to PNG files, offscreen, so that their
// look can be checked without a display: v7screens DIR
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QProgressBar>
#include <QStackedWidget>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTextEdit>
#include <QTimer>

#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <sys/stat.h>

#include "airserial.h"
#include "cameralink.h"
#include "collectassistant.h"
#include "configtesui.h"
#include "dataservice.h"
#include "deviceinfo.h"
#include "downloaddata.h"
#include "framestyle.h"
#include "gatherstrategyoptui.h"
#include "myflyui.h"
#include "mylabel.h"
#include "mytipui.h"
#include "offloadrun.h"
#include "poswifitransfer.h"
#include "qnetconfig.h"
#include "reductionwidget.h"
#include "shengjiui.h"
#include "titlebar.h"
#include "updataui.h"
#include "v7kapp.h"
#include "look.h"

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

// Fourteen slots as a camera after a day of flights lists them.
QVector<PosFileInfo> sampleSlots()
{
    QVector<PosFileInfo> listing;
    for (int s = 1; s <= 14; ++s) {
        PosFileInfo info = {};
        info.fileNumber = uint8_t(0x20 + s);
        info.startAddress = 0x10000u * uint32_t(s);
        info.endAddress = info.startAddress + 52u * uint32_t(1200 + 97 * s);
        info.year = 26;
        info.month = 11;
        info.day = uint8_t(1 + s / 3);
        info.hour = uint8_t(1 + (s % 3) * 3);
        info.minute = uint8_t(5 * s);
        info.second = uint8_t(s * 3);
        info.downloadCount = uint8_t(s % 4 == 0 ? 1 : 0);
        listing.append(info);
    }
    return listing;
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

// The POS page in WiFi view with a listing, during a download, after it, and in USB view with
// the camera's POS drive (a folder under V7_MEDIA_ROOT).
void savePosPage(V7KAPP *window, const QString &mediaRoot)
{
    DownloadData *page = window->pages.downloadData;
    emit window->navigationEntry(3)->clicked(); // a five-lens camera: the lens widgets show
    page->transfer()->showListingForPreview(sampleSlots());
    for (int row : {1, 4, 8})
        page->rowCheckBox(row)->setChecked(true);
    page->table()->selectRow(4);
    save(window, "pos_wifi_listing");

    page->showLook(DownloadData::Look::Downloading);
    page->independentBox()->setChecked(true);
    page->progressBar()->setValue(45);
    page->textLabel()->setText(QStringLiteral("2/3: 共:1685个 ,已下载:45.20%"));
    save(window, "pos_wifi_downloading");
    page->showLook(DownloadData::Look::Success);
    save(window, "pos_wifi_success");

    const QString drive = mediaRoot + QStringLiteral("/VESTRANEPOS");
    QDir().mkpath(drive);
    for (int s = 1; s <= 14; ++s) {
        const QString path = drive + QStringLiteral("/POS%1.DAT").arg(s, 2, 10, QLatin1Char('0'));
        QFile file(path);
        if (file.open(QIODevice::WriteOnly))
            file.write(QByteArray(52 * (1200 + 97 * s), 0));
        file.close();
        const time_t at = 1795000000 + 86400 * (s / 3) + 3600 * s;
        const timespec times[2] = {{at, 0}, {at, 0}};
        ::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0);
    }
    page->refreshModeButtons();
    waitFor([page] { return !page->usbRoot().isEmpty(); });
    emit page->usbButton()->clicked();
    waitFor([page] { return page->table()->rowCount() == 14; });
    page->rowCheckBox(0)->setChecked(true);
    page->rowCheckBox(3)->setChecked(true);
    page->progressBar()->setValue(0);
    page->textLabel()->clear();
    save(window, "pos_usb_listing");
    emit window->navigationEntry(0)->clicked();
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

// The restore page with the back and centre cards in, and the boxes of a restore in turn.
void saveRestoreScreens(V7KAPP *window)
{
    ReductionWidget *page = window->pages.reduction;
    window->contentArea()->setCurrentIndex(5);
    // The entry as a click shows it, without the card check a click starts.
    window->navigationEntry(0)->setPixmap(Look::picture("deviceInfo_normal.png"));
    window->navigationEntry(5)->setPixmap(
        Look::picture("yingxiangqingkongselect.png"));
    page->setStorage(0, 47.19, 59.49); // centre
    page->setStorage(3, 1.62, 29.72);  // back
    page->refreshStorage();
    page->UpGrade();
    save(window, "restore_two_cards");

    MyTipUi *question = ReductionWidget::makeQuestion(
        window, QStringLiteral("下视相机有 12 张、后视相机有 3 张照片尚未验证备份，仍要清除吗？"));
    question->show();
    save(question, "restore_savegate_question");
    delete question;

    MyFlyUi *refused = ReductionWidget::makeNotice(
        window, QStringLiteral("前视相机的卡不会被还原"),
        QStringLiteral("/dev/sdc1 所在的磁盘上还挂载着 /dev/sdc2（/media/crew/DATA），不能格式化"));
    refused->show();
    save(refused, "restore_refused");
    delete refused;

    MyFlyUi *busy = ReductionWidget::makeBusyDialog(window, QStringLiteral("正在还原中,请勿中断软件!"));
    busy->onTimeout();
    busy->show();
    save(busy, "restore_busy");
    delete busy;

    // The results: the centre card restored, the back card could not be unmounted; the others
    // were not there.
    page->setStorage(0, 59.48, 59.49);
    page->refreshStorage();
    page->UpGrade();
    page->resultIcon(0)->setPixmap(Look::picture("ok.png"));
    page->resultIcon(3)->setPixmap(Look::picture("icon_fail.png"));
    page->resultIcon(0)->show();
    page->resultIcon(3)->show();
    save(window, "restore_results");
    MyFlyUi *done = ReductionWidget::makeNotice(
        window, QStringLiteral("完成还原！"),
        QStringLiteral("后视相机：卸载 /media/crew/Back 失败：umount: /media/crew/Back: target is busy."));
    done->show();
    save(done, "restore_done");
    delete done;
    window->contentArea()->setCurrentIndex(0);
    window->navigationEntry(5)->setPixmap(Look::picture("yingxiangqingkongnor.png"));
    window->navigationEntry(0)->setPixmap(Look::picture("deviceInfo_selected.png"));
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
    // The camera's POS drive of the USB view goes beside the demo cards, else into a media
    // root of our own.
    QTemporaryDir ownMedia;
    if (qEnvironmentVariable("V7_MEDIA_ROOT").isEmpty())
        qputenv("V7_MEDIA_ROOT", QFile::encodeName(ownMedia.path()));
    const QString mediaRoot = qEnvironmentVariable("V7_MEDIA_ROOT");
    // The camera's POS drive is there from the start: a drive that appears later is a plugged
    // card, which the offload page answers with a modal question nobody is here to close.
    QDir().mkpath(mediaRoot + QStringLiteral("/VESTRANEPOS"));

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
    savePosPage(window, mediaRoot);

    context.selfTest = 0;
    window->onTimeout();
    save(window, "mainwindow_selftest");
    context.selfTest = 1;
    saveStrategyAndPlanning(window, context);
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
    busy.hide();

    saveRestoreScreens(window);
    return 0;
}
