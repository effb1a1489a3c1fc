#include "upgradestarter.h"

#include <QDir>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QPointer>
#include <QTimer>

#include "appsettings.h"
#include "datafolders.h"
#include "framestyle.h"
#include "prompt.h"
#include "cameralink.h"
#include "shengjiui.h"

namespace UpgradeStarter {

namespace {

constexpr int kFreshUpgraderPauseMs = 1000;

struct Arguments
{
    int modeA;
    int modeB;
    const char *date;
};

// The mode words and date text each entry point has always passed to the upgrader.
Arguments argumentsFor(Variant variant)
{
    if (variant == Variant::UpdateWindow)
        return {3, 22, "20180510"};
    return {0, 0, "0"};
}

QByteArray encodedPath(Variant variant, const QString &path)
{
    return variant == Variant::UpdateWindow ? path.toLatin1() : QFile::encodeName(path);
}

bool askDecrypt(QWidget *parent)
{
    QMessageBox box(QMessageBox::Warning, QStringLiteral("提示"),
                    QStringLiteral("您选的文件是加密文件，是否解密并继续升级？"), QMessageBox::NoButton,
                    parent);
    QPushButton *yes = box.addButton(QStringLiteral("是"), QMessageBox::YesRole);
    box.addButton(QStringLiteral("否"), QMessageBox::NoRole);
    box.exec();
    return box.clickedButton() == yes;
}

} // namespace

QString chooseFile(QWidget *parent)
{
    // Firmware images sit in one download folder: the chooser opens where the last one was.
    const QString key = QLatin1String(AppSettings::kFirmwareFolder);
    QFileDialog dialog(parent, QStringLiteral("打开"), AppSettings::startFolder(key),
                       QStringLiteral("(*.bin)"));
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return QString();
    AppSettings::setLastFolder(key, dialog.selectedFiles().constFirst());
    return dialog.selectedFiles().constFirst();
}

QString decryptedCopyPath()
{
    return QDir(DataFolders::perUserDataFolder()).filePath(QStringLiteral("tempfile.bin"));
}

namespace {

// Hands the image to the upgrader and opens the progress window.
bool launch(Variant variant, const QString &path, QWidget *parent, QWidget *over)
{
    CameraLink *link = CameraLink::instance();
    AkUpgrader *upgrader = link->upgraderHandle();
    const Arguments args = argumentsFor(variant);
    // The library checks the image before anything is sent; a file that is not one of our
    // firmware images stops here.
    if (!upgrader || akupgrader_prepare_firmware(upgrader, encodedPath(variant, path).constData(),
                                                 args.modeA, args.modeB, args.date) != 0) {
        Prompt::inform(parent, QStringLiteral("所选文件不是有效的固件！"),
                       QStringLiteral("未向相机发送任何数据"));
        return false;
    }
    akupgrader_start(upgrader);
    akupgrader_set(upgrader);

    if (variant == Variant::UpdateWindow && parent)
        parent->close();
    QWidget *owner = over ? over->window() : nullptr;
    auto *progress = new ShengJiUi(owner);
    progress->setAttribute(Qt::WA_DeleteOnClose);
    progress->setModal(true);
    FrameStyle::centreOn(progress, owner);
    link->setUpgradeRunning(true);
    progress->show();
    return true;
}

} // namespace

bool start(Variant variant, const QString &chosen, QWidget *parent, QWidget *over)
{
    if (!over)
        over = parent;
    QString path = chosen;
    if (akupgrader_file_is_encrypt(QFile::encodeName(path).constData()) != 0) {
        if (!askDecrypt(parent))
            return false;
        QDir().mkpath(DataFolders::perUserDataFolder());
        path = decryptedCopyPath();
        if (akupgrader_file_decrypt(QFile::encodeName(chosen).constData(),
                                    QFile::encodeName(path).constData()) != 0) {
            Prompt::inform(parent, QStringLiteral("固件文件解密失败！"),
                           QStringLiteral("文件已损坏或不是本相机的固件"));
            return false;
        }
    }
    if (variant != Variant::DeviceLocal)
        return launch(variant, path, parent, over);
    // A fresh upgrader wants a second before it is given the image; wait on a timer, not
    // asleep, so the window keeps drawing.
    CameraLink::instance()->renewUpgrader();
    QPointer<QWidget> guard(parent);
    QPointer<QWidget> overGuard(over);
    QTimer::singleShot(kFreshUpgraderPauseMs, [variant, path, guard, overGuard] {
        launch(variant, path, guard.data(), overGuard.data());
    });
    return true;
}

} // namespace UpgradeStarter
