// The offload page's set-up: camera folders, target folder and POS tables.
#include "dataservice.h"

#include <QCoreApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QThreadPool>

#include <functional>
#include <memory>

#include "appsettings.h"
#include "cameracards.h"
#include "checksavethread.h"
#include "mylabel.h"
#include "photofolder.h"
#include "posspreadsheet.h"
#include "prompt.h"

namespace {

// The choosers' last folders live in the settings file, whose every write syncs a lock file and
// the file to the disk: on a disk busy with an offload that is longer than a frame. Written one
// after another on a thread of their own; `then` runs on the GUI thread once the choice is on the
// disk, so that whatever follows the choice (the next chooser, the listing) finds it there.
void rememberThen(QObject *page, const char *key, const QString &path,
                  const std::function<void()> &then)
{
    static QThreadPool writer; // waits for a write still going when the program ends
    writer.setMaxThreadCount(1);
    QPointer<QObject> guard(page);
    const QString name = QLatin1String(key);
    writer.start([guard, name, path, then] {
        AppSettings::setLastFolder(name, path);
        if (QCoreApplication *app = QCoreApplication::instance())
            QMetaObject::invokeMethod(app, [guard, then] {
                if (guard)
                    then();
            });
    });
}

// The program's own choosers (not the desktop's), so that they look alike everywhere and the
// page tests can answer them. Each opens at `start` when given (a camera's card), else where the
// operator last chose under `key`; the caller remembers the choice there.
QString chooseFolder(QWidget *parent, const QString &start, const char *key)
{
    QFileDialog dialog(parent, QStringLiteral("请选择"),
                       start.isEmpty() ? AppSettings::startFolder(QLatin1String(key)) : start);
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOptions(QFileDialog::ShowDirsOnly | QFileDialog::DontUseNativeDialog);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return QString();
    return QDir::cleanPath(dialog.selectedFiles().constFirst());
}

QString choosePosFile(QWidget *parent)
{
    const QString key = QLatin1String(AppSettings::kOffloadPosFolder);
    // Before any table was added here, where the POS page saved the last download.
    QFileDialog dialog(parent, QStringLiteral("请选择"),
                       AppSettings::startFolder(key, QLatin1String(AppSettings::kPosSaveFolder)),
                       QStringLiteral("excel(*.xls *.xlsx)"));
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return QString();
    return dialog.selectedFiles().constFirst();
}

} // namespace

void DataService::cameraClicked(int camera)
{
    if (m_running || m_started || m_listing.contains(camera))
        return; // the cameras of an offload under way stay as they are
    if (m_plan.selected(camera)) {
        leaveCompleted();
        m_plan.deselect(camera);
        m_sizes[camera].reset();
        showIcon(camera, false);
        showText(m_plan.text());
        return;
    }
    const QString folder =
        chooseFolder(this, PhotoFolder::photoRoot(CameraCards::instance()->root(camera)),
                     AppSettings::kOffloadCameraFolder);
    if (!folder.isEmpty())
        rememberThen(this, AppSettings::kOffloadCameraFolder, folder,
                     [this, camera, folder] { selectCameraFolder(camera, folder); });
}

void DataService::selectCameraFolder(int camera, const QString &folder)
{
    if (m_running || m_started || m_listing.contains(camera) || m_plan.selected(camera))
        return;
    // Listing a full card takes a while: off the GUI thread, answered here.
    m_listing.insert(camera);
    QPointer<DataService> page(this);
    QThreadPool::globalInstance()->start([page, camera, folder] {
        const PhotoFolder::Listing listing = PhotoFolder::list(folder);
        QMetaObject::invokeMethod(page, [page, camera, folder, listing] {
            if (page)
                page->folderChosen(camera, folder, listing);
        });
    });
}

void DataService::folderChosen(int camera, const QString &folder,
                               const PhotoFolder::Listing &listing)
{
    m_listing.remove(camera);
    emit folderListed(camera);
    if (!listing.readable || listing.photos == 0) {
        Prompt::inform(this, QStringLiteral("目录下没有照片"));
        return;
    }
    if (m_running || m_started)
        return;
    leaveCompleted();
    m_plan.select(camera, folder, listing.files);
    showIcon(camera, true);
    showText(m_plan.text());
    m_progress->setRange(0, std::max(1, m_plan.plannedTotal() + m_extraPlanned));
    // The needed size: the bytes of the very files the engine copies, counted by its own
    // listing on the pool thread above, whole MiB rounded up.
    m_sizes[camera].reset();
    m_sizes[camera].add(qint64((listing.bytes + (1u << 20) - 1) >> 20));
}

void DataService::targetClicked()
{
    const QString folder = chooseFolder(this, QString(), AppSettings::kOffloadTargetFolder);
    if (!folder.isEmpty())
        rememberThen(this, AppSettings::kOffloadTargetFolder, folder,
                     [this, folder] { setTargetFolder(folder); });
}

void DataService::setTargetFolder(const QString &folder)
{
    if (m_started)
        return;
    leaveCompleted();
    m_plan.target = folder;
    m_targetText->setText(folder);
    m_freeMiB = 0;
    auto *check = new CheckSaveThread(folder, this);
    connect(check, &CheckSaveThread::freeSpace, this, [this, folder](qint64 mib) {
        if (m_plan.target != folder)
            return;
        m_freeMiB = mib;
        emit targetMeasured();
    });
    connect(check, &QThread::finished, check, &QObject::deleteLater);
    check->start();
}

void DataService::backupClicked()
{
    if (m_started)
        return;
    const QString folder = chooseFolder(this, QString(), AppSettings::kOffloadBackupFolder);
    if (!folder.isEmpty())
        rememberThen(this, AppSettings::kOffloadBackupFolder, folder,
                     [this, folder] { setBackupFolder(folder); });
}

void DataService::setBackupFolder(const QString &folder)
{
    if (m_started)
        return;
    leaveCompleted();
    m_plan.backup = folder;
    m_backupText->setText(folder);
    m_backupClear->setVisible(!folder.isEmpty());
    m_backupFree->clear();
    m_backupFreeMiB = 0;
    if (folder.isEmpty())
        return;
    auto *check = new CheckSaveThread(folder, this);
    connect(check, &CheckSaveThread::freeSpace, this, [this, folder](qint64 mib) {
        if (m_plan.backup != folder)
            return;
        m_backupFreeMiB = mib;
        m_backupFree->setText(QStringLiteral("可用%1 GB").arg(double(mib) / 1024.0, 0, 'f', 1));
        emit backupMeasured();
    });
    connect(check, &QThread::finished, check, &QObject::deleteLater);
    check->start();
}

void DataService::posAddClicked()
{
    if (!m_posAdd->isEnabled())
        return;
    const QString path = choosePosFile(this);
    if (!path.isEmpty())
        rememberThen(this, AppSettings::kOffloadPosFolder, path, [this, path] { addPosFile(path); });
}

void DataService::addPosFile(const QString &path)
{
    // The same table twice is added once.
    if (m_started || !m_posAdd->isEnabled() || m_plan.holdsPos(path))
        return;
    leaveCompleted();
    m_plan.posReading(path);
    showText(m_plan.text());
    m_posAdd->setEnabled(false);
    m_posBrowse->setEnabled(false);
    auto *reader = new MyReadExcelThread(path, this);
    connect(reader, &MyReadExcelThread::refused, this,
            [this](const QString &table, const QString &message, const QString &shown) {
                qWarning("offload: %s", qPrintable(message));
                m_plan.posRefused(table, shown);
            });
    connect(reader, &MyReadExcelThread::newObject, this, &DataService::slotnewObject);
    // The reader idles once it has delivered; it is done with then.
    connect(reader, &MyReadExcelThread::newObject, reader, &QThread::quit);
    connect(reader, &QThread::finished, reader, &QObject::deleteLater);
    reader->start();
}

void DataService::slotnewObject(MyExcelObject *object)
{
    std::unique_ptr<MyExcelObject> owned(object);
    m_posAdd->setEnabled(true);
    m_posBrowse->setEnabled(true);
    if (m_plan.holdsPos(object->filePath)) {
        showText(m_plan.text());
        return;
    }
    const bool added = m_plan.posRead(*object);
    showText(m_plan.text());
    if (!added) {
        const QString why = m_plan.posRefusal(object->filePath);
        Prompt::inform(this, QStringLiteral("POS文件读取失败"),
                       why.isEmpty() ? object->filePath : why);
    }
}

void DataService::posCancelClicked()
{
    if (m_running || m_started)
        return;
    leaveCompleted();
    m_plan.cancelPos();
    showText(m_plan.text());
}
