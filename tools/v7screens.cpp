// Renders every window, page and dialog of the program to PNG files, offscreen, so that their
// look can be checked without a display: v7screens DIR
#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QStackedWidget>
#include <QTimer>

#include <cstdio>
#include <cstring>

#include "airserial.h"
#include "cameralink.h"
#include "deviceinfo.h"
#include "framestyle.h"
#include "myflyui.h"
#include "mylabel.h"
#include "mytipui.h"
#include "qnetconfig.h"
#include "reductionwidget.h"
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

// The restore page with the back and centre cards in, and the boxes of a restore in turn.
void saveRestoreScreens(V7KAPP *window)
{
    ReductionWidget *page = window->pages.reduction;
    window->contentArea()->setCurrentIndex(5);
    // The entry as a click shows it, without the card check a click starts.
    window->navigationEntry(0)->setPixmap(QPixmap(QStringLiteral(":/V7KAPP/res/deviceInfo_normal.png")));
    window->navigationEntry(5)->setPixmap(
        QPixmap(QStringLiteral(":/V7KAPP/res/yingxiangqingkongselect.png")));
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
    page->resultIcon(0)->setPixmap(QPixmap(QStringLiteral(":/V7KAPP/res/ok.png")));
    page->resultIcon(3)->setPixmap(QPixmap(QStringLiteral(":/V7KAPP/res/icon_fail.png")));
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
    window->navigationEntry(5)->setPixmap(QPixmap(QStringLiteral(":/V7KAPP/res/yingxiangqingkongnor.png")));
    window->navigationEntry(0)->setPixmap(QPixmap(QStringLiteral(":/V7KAPP/res/deviceInfo_selected.png")));
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
    busy.hide();

    saveRestoreScreens(window);
    return 0;
}
