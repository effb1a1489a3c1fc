#include "offloadsession.h"

#include <algorithm>
#include <thread>
#include <vector>

#include <QDir>
#include <QFileInfo>

#include "cardfiles.h"
#include "cardheads.h"
#include "copynames.h"
#include "enginefile.h"
#include "fileproblemtext.h"
#include "offloadpaths.h"
#include "offloadset.h"
#include "qualitylook.h"
#include "targetcheck.h"
#include "zipvolume.h"

#include <cerrno>
#include <cstring>
#include "datafolders.h"
#include "workerthread.h"

OffloadSession::OffloadSession()
    : m_stateFolder(DataFolders::perUserDataFolder())
{}

OffloadSession::~OffloadSession()
{
    pause();
}

QString OffloadSession::configPath() const
{
    return QDir(m_stateFolder).filePath(QStringLiteral("Taskconfig.xml"));
}

bool OffloadSession::createCamera(int camera, const QString &archivePath,
                                  const QString &archiveName, QString *error)
{
    const QString folder =
        QDir(m_setup.target).filePath(QString::fromLatin1(Cameras::folderName(camera)));
    if (!QDir().mkpath(folder)) {
        m_refusalTold = {OperatorOutcome(OperatorOutcome::TargetUncreatable, {folder})};
        *error = QStringLiteral("cannot create %1").arg(folder);
        return false;
    }
    auto task = std::make_unique<DiskTask>();
    TaskRecord &r = task->record;
    taskRecordClear(&r);
    const QString taskFile =
        QDir(m_stateFolder)
            .filePath(QString::fromLatin1(Cameras::lowerName(camera)) + QStringLiteral(".log"));
    const QString archive =
        archivePath.isEmpty() ? folder + QStringLiteral("/pack1.zip") : archivePath;
    const QString name = archiveName.isEmpty() ? QStringLiteral("pack1") : archiveName;
    const bool fits =
        taskRecordSetText(r.destination, QFile::encodeName(folder).constData()) == 0 &&
        taskRecordSetText(r.source, QFile::encodeName(m_setup.sources[camera]).constData()) == 0 &&
        taskRecordSetText(r.archivePath, QFile::encodeName(archive).constData()) == 0 &&
        taskRecordSetText(r.archiveName, name.toUtf8().constData()) == 0 &&
        taskRecordSetText(r.archivePrefix,
                          QFile::encodeName(folder + QLatin1Char('/')).constData()) == 0 &&
        taskRecordSetText(r.taskFilePath, QFile::encodeName(taskFile).constData()) == 0 &&
        taskRecordSetText(r.password, m_setup.passwordText.toUtf8().constData()) == 0;
    if (!fits) {
        m_refusalTold = {OperatorOutcome(OperatorOutcome::Other, {}, camera)};
        *error = QStringLiteral("%1: a path or the password is longer than 255 bytes")
                     .arg(QString::fromLatin1(Cameras::folderName(camera)));
        return false;
    }
    r.passwordFlag = m_setup.volumes && m_setup.password ? 1 : 0;
    r.volumeMode = m_setup.volumes ? 1 : 0;
    r.volumeSize = m_setup.volumeGb * 1024.0;
    r.camera = camera;
    r.bytesDone = uint64_t(std::max<qint64>(0, QFileInfo(archive).size()));
    task->verify = m_setup.verify ? 1 : 0;
    task->step.context = this;
    task->step.sortieOf = sortieStep;
    task->step.tag = m_inner.tag ? tagStep : nullptr;
    task->step.filed = m_inner.filed || m_look ? filedStep : nullptr;
    task->volumes = ZipVolume::steps();
    m_tasks[camera] = std::move(task);
    return true;
}

std::vector<int> OffloadSession::sortieEnds(const QList<OffloadPosSet> &sets)
{
    std::vector<int> ends;
    int total = 0;
    for (const OffloadPosSet &set : sets) {
        total += int(set.positions.size());
        ends.push_back(total);
    }
    return ends;
}

QString OffloadSession::setPath() const
{
    return OffloadSet::path(m_stateFolder);
}

void OffloadSession::dropTasks()
{
    pause();
    for (auto &audit : m_audits)
        audit.reset();
    for (auto &task : m_tasks)
        task.reset();
    std::fill(std::begin(m_found), std::end(m_found), 0);
}

bool OffloadSession::saveSet(const QString &id, const QByteArray &startConfig,
                             QString *error) const
{
    OffloadSet set;
    set.id = id;
    set.target = m_setup.target;
    set.match = m_setup.match == ExposureMatcher::Method::Index ? QStringLiteral("index")
                                                                : QStringLiteral("time");
    set.hasOffset = m_setup.hasOffset;
    set.offsetSeconds = m_setup.offsetSeconds;
    set.cameraPrefix = m_setup.cameraPrefix;
    // The POS tables by path and hash, their records not copied into the set.
    set.posTables = OffloadSet::tablesOf(m_setup.pos);
    TaskConfig start = config(false);
    OffloadSet::dropTableRecords(&start);
    set.config = startConfig.isEmpty() ? TaskConfig::toXml(start) : startConfig;
    // The cards are described at once: each is a slow device (its label is read from it, and
    // every name and size asked for), and the copy starts only when all are done.
    std::vector<std::thread> describing;
    for (int camera = 0; camera < Cameras::Count; ++camera) {
        const DiskTask *task = m_tasks[camera].get();
        if (!task)
            continue;
        OffloadSet::Card *card = &set.cards[camera];
        describing.push_back(WorkerThread::start("card describe", [card, task, source = m_setup.sources[camera]] {
            CardIdentity::describe(source, card);
            card->listHash = CardIdentity::listHash(task->fileList);
            for (size_t i = 0; i < task->copyNames.size(); ++i) {
                if (!task->copyNames[i].empty())
                    card->renamed.insert(
                        QFile::decodeName(taskRelativePath(task, int(i)).c_str()),
                        QFile::decodeName(task->copyNames[i].c_str()));
            }
        }));
    }
    for (std::thread &thread : describing)
        thread.join();
    return set.write(setPath(), error);
}

bool OffloadSession::checkPaths(const Setup &setup, QString *error)
{
    const OffloadPaths::Refusal paths = OffloadPaths::check(setup);
    m_pathPrompt = paths.prompt;
    m_refusedPaths = paths.paths;
    if (!paths.refused())
        return true;
    m_status = Status::Refused;
    *error = paths.message;
    return false;
}

// Engine order of starting: centre, left, right, front, back.
bool OffloadSession::start(const Setup &setup, QString *error)
{
    dropTasks();
    m_notes.clear();
    m_notesTold.clear();
    m_refusalTold.clear();
    m_setup = setup;
    m_sortieEnds = sortieEnds(setup.pos);
    m_status = Status::Refused;
    for (int camera = 0; camera < Cameras::Count; ++camera) {
        const QString &source = m_setup.sources[camera];
        if (!source.isEmpty() && !QFileInfo(source).isDir()) {
            m_refusalTold = {OperatorOutcome(OperatorOutcome::CardFolderMissing, {source}, camera)};
            *error = QStringLiteral("%1: the card folder %2 is missing")
                         .arg(QString::fromLatin1(Cameras::folderName(camera)), source);
            return false;
        }
    }
    if (!checkPaths(m_setup, error))
        return false;
    m_status = Status::StateFailed;
    if (!QDir().mkpath(m_stateFolder)) {
        m_refusalTold = {OperatorOutcome(OperatorOutcome::StateFolderUncreatable, {m_stateFolder})};
        *error = QStringLiteral("cannot create the state folder %1").arg(m_stateFolder);
        return false;
    }
    // From here until the new set is written no set binds the task files being overwritten.
    m_refusalTold = {OperatorOutcome(OperatorOutcome::TaskStateUnsaved)};
    if (!OffloadSet::remove(setPath(), error))
        return false;
    for (int camera = 0; camera < Cameras::Count; ++camera) {
        if (m_setup.sources[camera].isEmpty())
            continue;
        if (!createCamera(camera, QString(), QString(), error)) {
            dropTasks();
            m_status = Status::Refused;
            return false;
        }
    }
    QStringList failures;
    for (int camera = 0; camera < Cameras::Count; ++camera) {
        DiskTask *task = m_tasks[camera].get();
        // Plain mode keeps the target's checksum lines until the copies they vouch for are
        // checked (takeVerified); the heads of the last offload go either way.
        const bool built = !task || (m_setup.volumes ? prepareTask(task, camera) == 0
                                                     : loadTask(task, camera, true) == 0);
        if (task && built && !m_setup.volumes)
            CardHeads::clear(task->record.taskFilePath);
        if (!built) {
            m_refusalTold.prepend(OperatorOutcome(
                OperatorOutcome::TaskFileUnwritable,
                {QString::fromUtf8(task->record.taskFilePath)}, camera));
            failures << QStringLiteral("%1: cannot write the task file %2 for %3: %4")
                            .arg(QString::fromLatin1(Cameras::folderName(camera)),
                                 QString::fromUtf8(task->record.taskFilePath),
                                 m_setup.sources[camera],
                                 QString::fromLocal8Bit(std::strerror(errno)));
        }
    }
    if (failures.isEmpty()) {
        m_foldsCase = CopyNames::foldsCase(QFile::encodeName(m_setup.target).toStdString());
        for (int camera = 0; camera < Cameras::Count; ++camera)
            nameCopies(camera, nullptr);
        failures << takeVerified();
    }
    QString saveError;
    if (failures.isEmpty() && (!saveSet(QString(), QByteArray(), &saveError) ||
                               (m_saveOnStart && !saveConfig(false, &saveError))))
        failures << saveError;
    if (!failures.isEmpty()) {
        dropTasks();
        *error = failures.join(QLatin1Char('\n')) +
                 QStringLiteral("\nthe task state cannot be saved: nothing was started");
        return false;
    }
    m_status = Status::Ok;
    m_refusalTold.clear();
    for (int camera = 0; camera < Cameras::Count; ++camera) {
        if (m_tasks[camera])
            startTask(m_tasks[camera].get(), camera);
    }
    error->clear();
    return true;
}

void OffloadSession::nameCopies(int camera, const OffloadSet::Card *saved)
{
    DiskTask *task = m_tasks[camera].get();
    if (!task)
        return;
    task->foldsCase = m_foldsCase;
    task->copyNames.clear();
    // An archive's entries keep the card's names: within one archive they never fold.
    if (m_setup.volumes)
        return;
    std::vector<std::string> paths;
    for (int i = 0; i < task->fileCount.load(); ++i)
        paths.push_back(taskRelativePath(task, i));
    if (!saved) {
        const std::string prefix =
            m_setup.cameraPrefix ? std::string(Cameras::folderName(camera)) + '_' : std::string();
        task->copyNames = CopyNames::decide(paths, m_foldsCase, prefix);
        return;
    }
    task->copyNames.resize(paths.size());
    for (size_t i = 0; i < paths.size(); ++i) {
        const QString card = QFile::decodeName(paths[i].c_str());
        const QString copy = saved->copyOf(card);
        if (copy != card)
            task->copyNames[i] = QFile::encodeName(copy).toStdString();
    }
}

QHash<QString, QString> OffloadSession::renamedCopies(int camera) const
{
    QHash<QString, QString> copies;
    const DiskTask *task = m_tasks[camera].get();
    if (!task)
        return copies;
    for (size_t i = 0; i < task->copyNames.size(); ++i) {
        if (!task->copyNames[i].empty())
            copies.insert(QFile::decodeName(taskRelativePath(task, int(i)).c_str()),
                          QFile::decodeName(task->copyNames[i].c_str()));
    }
    return copies;
}

void OffloadSession::pause()
{
    for (auto &audit : m_audits) {
        if (audit)
            audit->stop();
    }
    for (int camera = 0; camera < Cameras::Count; ++camera) {
        if (m_tasks[camera])
            pauseTask(m_tasks[camera].get(), camera);
    }
}

bool OffloadSession::resumePaused(QString *error)
{
    // A card pulled while paused may come back as another card at the same place.
    OffloadSet set;
    QString why;
    m_status = Status::Refused;
    m_refusalTold.clear();
    if (OffloadSet::read(setPath(), &set, &why) == 0) {
        QStringList refusals;
        for (int camera = 0; camera < Cameras::Count; ++camera) {
            if (!m_tasks[camera] || set.cards[camera].source != m_setup.sources[camera])
                continue;
            OperatorOutcome told;
            const QString found = CardIdentity::locate(
                set.cards[camera], camera, QString(), &why,
                QFile::decodeName(m_tasks[camera]->record.taskFilePath), &told);
            if (found.isEmpty()) {
                refusals << why;
                m_refusalTold << told;
            } else if (found != m_setup.sources[camera]) {
                m_refusalTold << OperatorOutcome(OperatorOutcome::CardMovedWhilePaused, {found},
                                                 camera);
                refusals << QStringLiteral("%1: the card is now at %2; resume the saved offload "
                                           "to continue from there")
                                .arg(QString::fromLatin1(Cameras::folderName(camera)), found);
            }
        }
        if (!refusals.isEmpty()) {
            *error = refusals.join(QLatin1Char('\n'));
            return false;
        }
    }
    m_status = Status::Ok;
    QStringList failures;
    for (int camera = 0; camera < Cameras::Count; ++camera) {
        DiskTask *task = m_tasks[camera].get();
        if (task && resumeTask(task, camera) != 0) {
            failures << QString::fromLatin1(Cameras::folderName(camera));
            m_refusalTold << OperatorOutcome(OperatorOutcome::EngineNotResumed, {}, camera);
        } else if (m_audits[camera])
            m_audits[camera]->start();
    }
    *error = failures.join(QLatin1Char('\n'));
    return failures.isEmpty();
}

int OffloadSession::verifiedFound() const
{
    int found = 0;
    for (const int n : m_found)
        found += n;
    return found;
}

int OffloadSession::filesDone() const
{
    int done = 0;
    for (const auto &task : m_tasks)
        done += task ? taskFilesCopied(task.get()) : 0;
    return done;
}

int OffloadSession::fileCount() const
{
    int count = 0;
    for (const auto &task : m_tasks)
        count += task ? task->fileCount.load() : 0;
    return count;
}

bool OffloadSession::running() const
{
    for (const auto &audit : m_audits) {
        if (audit && audit->running())
            return true;
    }
    for (const auto &task : m_tasks) {
        if (task && !task->stopped.load())
            return true;
    }
    return false;
}

bool OffloadSession::complete() const
{
    bool any = false;
    for (int camera = 0; camera < Cameras::Count; ++camera) {
        const DiskTask *task = m_tasks[camera].get();
        // A camera of the set-up whose task could not be made or loaded is not done.
        if (!task && !m_setup.sources[camera].isEmpty())
            return false;
        if (!task)
            continue;
        any = true;
        if (taskFilesCopied(m_tasks[camera].get()) != task->fileCount.load() || task->failed.load())
            return false;
    }
    return any;
}

QStringList OffloadSession::errors() const
{
    QStringList list;
    for (int camera = 0; camera < Cameras::Count; ++camera) {
        const DiskTask *task = m_tasks[camera].get();
        if (!task && !m_setup.sources[camera].isEmpty())
            list << QStringLiteral("%1: no task for %2")
                        .arg(QString::fromLatin1(Cameras::folderName(camera)),
                             m_setup.sources[camera]);
        if (task && task->stopped.load() && task->failed.load())
            list << QStringLiteral("%1: %2").arg(QString::fromLatin1(Cameras::folderName(camera)),
                                                 QString::fromUtf8(task->error));
    }
    return list;
}

QStringList OffloadSession::fileProblemLines() const
{
    QStringList lines;
    for (int camera = 0; camera < Cameras::Count; ++camera) {
        if (!m_tasks[camera])
            continue;
        std::vector<FileProblem> failed;
        std::vector<FileProblem> skipped;
        fileProblems(m_tasks[camera].get(), &failed, &skipped);
        const QString name = QString::fromLatin1(Cameras::folderName(camera));
        for (const FileProblem &f : failed)
            lines << name + QStringLiteral(": failed: ") + FileProblemText::line(f);
        for (const FileProblem &f : skipped)
            lines << name + QStringLiteral(": skipped: ") + FileProblemText::line(f);
    }
    return lines;
}

TaskConfig OffloadSession::config(bool success) const
{
    TaskConfig config;
    for (int camera = 0; camera < Cameras::Count; ++camera) {
        TaskConfig::Camera &c = config.cameras[camera];
        c.path = m_setup.sources[camera];
        const DiskTask *task = m_tasks[camera].get();
        if (task) {
            // Before the task is loaded its list is not built yet: count as the list will.
            c.planCount = task->fileList.empty()
                              ? CardFiles::count(QFile::encodeName(c.path).toStdString())
                              : task->fileCount.load();
            c.hasCount = taskFilesCopied(m_tasks[camera].get());
            c.zipPath = QFile::decodeName(task->record.archivePath);
            c.zipName = QString::fromUtf8(task->record.archiveName);
        } else {
            c.planCount = CardFiles::count(QFile::encodeName(c.path).toStdString());
        }
    }
    config.savePath = m_setup.target;
    config.pos = m_setup.pos;
    config.splitSorties = m_setup.splitSorties;
    config.volumes = m_setup.volumes;
    if (m_setup.volumes) {
        const bool entered = !m_setup.volumeText.isEmpty();
        config.volumeValue =
            entered ? m_setup.volumeText : TaskConfig::numberText(m_setup.volumeGb);
        config.volumeUnit = entered ? m_setup.volumeUnit : QStringLiteral("GB");
    }
    config.password = m_setup.password;
    config.passwordValue = m_setup.passwordText;
    config.success = success;
    return config;
}

bool OffloadSession::saveConfig(bool success, QString *error) const
{
    return TaskConfig::write(configPath(), config(success), error);
}

int OffloadSession::sortieOf(int recordIndex) const
{
    if (!m_setup.splitSorties || recordIndex < 0)
        return 0;
    for (size_t set = 0; set < m_sortieEnds.size(); ++set) {
        if (recordIndex < m_sortieEnds[set])
            return int(set) + 1;
    }
    return 0;
}

int OffloadSession::sortieStep(void *context, int camera, int photoIndex)
{
    const auto *self = static_cast<OffloadSession *>(context);
    return self->sortieOf(self->recordOf(camera, photoIndex));
}

int OffloadSession::tagStep(void *context, int camera, int index, const char *target,
                            const unsigned char *data, size_t size,
                            std::vector<unsigned char> *header, size_t *replaced)
{
    const auto *self = static_cast<OffloadSession *>(context);
    const PhotoStep &inner = self->m_inner;
    // The tagging step takes the record: a photo of no record (-1) stays untagged.
    return inner.tag(inner.context, camera, self->recordOf(camera, index), target, data, size,
                     header, replaced);
}

void OffloadSession::filedStep(void *context, int camera, int index, const char *target,
                               const unsigned char *data, size_t size)
{
    static_cast<OffloadSession *>(context)->filed(camera, index, target, data, size);
}

void OffloadSession::filed(int camera, int index, const char *target, const unsigned char *data,
                           size_t size) const
{
    if (m_inner.filed)
        m_inner.filed(m_inner.context, camera, index, target, data, size);
    // A photo inside an archive has no file of its own to decode.
    if (m_look && !m_setup.volumes)
        m_look->add(camera, index, recordOf(camera, index), QFile::decodeName(target));
}
