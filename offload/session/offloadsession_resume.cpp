// Resuming an offload: the state checked against the set file, the cards found by identity,
// what is done taken from the target.
#include "offloadsession.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <set>
#include <thread>

#include "cardheads.h"
#include "copynames.h"
#include "offloadset.h"
#include "offloadstate.h"
#include "plaincopy.h"
#include "targetcheck.h"
#include "taskfile.h"
#include "workerthread.h"

namespace {

QString cameraName(int camera)
{
    return QString::fromLatin1(Cameras::folderName(camera));
}

// The task file's record and entries; "missing", how it is damaged, or empty when it reads.
std::string readTaskFile(const std::string &path, const std::string &source, TaskRecord *header,
                         std::vector<char> *entries)
{
    const std::string problem = TaskFile::check(path.c_str(), source.c_str());
    if (!problem.empty())
        return problem;
    FILE *file = std::fopen(path.c_str(), "rb");
    if (!file)
        return "missing";
    std::fseek(file, 0, SEEK_END);
    const long long length = std::ftell(file);
    std::fseek(file, 0, SEEK_SET);
    std::string why;
    TaskFile::read(file, length, path.c_str(), header, entries, &why);
    std::fclose(file);
    return why;
}

} // namespace

bool OffloadSession::resume(const TaskConfig &config, bool verify, QString *error)
{
    dropTasks();
    m_notes.clear();
    m_notesTold.clear();
    m_refusalTold.clear();
    error->clear();
    m_status = Status::Refused;
    if (config.savePath.isEmpty()) {
        m_refusalTold << OperatorOutcome(OperatorOutcome::NoTargetRecorded);
        *error = QStringLiteral("the saved offload names no target folder (<savapath>): there is "
                                "nothing to resume into");
        return false;
    }
    if (!QFileInfo(config.savePath).isDir()) {
        m_refusalTold << OperatorOutcome(OperatorOutcome::TargetMissing, {config.savePath});
        *error = QStringLiteral("the target folder %1 does not exist (is its disk mounted?); a "
                                "resume does not create it")
                     .arg(config.savePath);
        return false;
    }
    OffloadSet set;
    QString why;
    const int setRead = OffloadSet::read(setPath(), &set, &why);
    if (setRead == -2) {
        const QString aside = OffloadState::keepAside(setPath());
        m_notes << QStringLiteral("%1; kept as %2").arg(why, aside);
        m_notesTold << OperatorOutcome(OperatorOutcome::SetFileDamaged, {aside});
    }
    bool bound = setRead == 0 && QDir::cleanPath(set.target) == QDir::cleanPath(config.savePath);
    for (int camera = 0; camera < Cameras::Count; ++camera)
        bound = bound && set.cards[camera].source == config.cameras[camera].path;
    if (!bound) {
        m_notes << QStringLiteral("the task files are not bound to this offload (no set file, or "
                                  "one of another offload): what is done is taken from the "
                                  "target alone");
        m_notesTold << OperatorOutcome(OperatorOutcome::TaskFilesUnbound);
    }

    Setup setup;
    QStringList refusals;
    for (int camera = 0; camera < Cameras::Count; ++camera) {
        const QString recorded = config.cameras[camera].path;
        if (recorded.isEmpty())
            continue;
        QString source;
        if (bound) {
            const QString taskFile = QDir(m_stateFolder).filePath(
                QString::fromLatin1(Cameras::lowerName(camera)) + QStringLiteral(".log"));
            OperatorOutcome told;
            source = CardIdentity::locate(set.cards[camera], camera, m_given[camera], &why,
                                          taskFile, &told);
            if (source.isEmpty()) {
                refusals << why;
                m_refusalTold << told;
            }
        } else {
            // Without a record of the card only its folder can be checked.
            source = m_given[camera].isEmpty() ? recorded : m_given[camera];
            if (!QFileInfo(source).isDir()) {
                refusals << QStringLiteral("%1: the card folder %2 is missing")
                                .arg(cameraName(camera), source);
                m_refusalTold << OperatorOutcome(OperatorOutcome::CardFolderMissing, {source},
                                                 camera);
            }
        }
        if (!source.isEmpty() && source != recorded) {
            m_notes << QStringLiteral("%1: the card is now at %2").arg(cameraName(camera), source);
            m_notesTold << OperatorOutcome(OperatorOutcome::CardMoved, {source}, camera);
        }
        setup.sources[camera] = source;
    }
    if (!refusals.isEmpty()) {
        *error = refusals.join(QLatin1Char('\n'));
        return false;
    }
    setup.target = config.savePath;
    setup.pos = config.pos;
    // A set that names its tables by path and hash has them read again, unchanged or refused.
    if (bound && !set.posTables.isEmpty() && !set.readTables(&setup.pos, error))
        return false;
    setup.splitSorties = config.splitSorties;
    setup.volumes = config.volumes;
    setup.volumeGb = config.volumeGb();
    setup.volumeText = config.volumeValue;
    setup.volumeUnit = config.volumeUnit;
    setup.password = config.password;
    setup.passwordText = config.passwordValue;
    setup.verify = verify;
    if (bound && set.match == QLatin1String("index"))
        setup.match = ExposureMatcher::Method::Index;
    setup.hasOffset = bound && set.hasOffset;
    setup.offsetSeconds = set.offsetSeconds;
    setup.cameraPrefix = bound && set.cameraPrefix;
    // A card found elsewhere may now lie inside the target, or share a folder with another.
    if (!checkPaths(setup, error))
        return false;
    m_setup = setup;
    m_sortieEnds = sortieEnds(setup.pos);

    m_status = Status::StateFailed;
    m_refusalTold = {OperatorOutcome(OperatorOutcome::TaskStateUnsaved)};
    m_foldsCase = CopyNames::foldsCase(QFile::encodeName(setup.target).toStdString());
    QStringList failures;
    for (int camera = 0; camera < Cameras::Count; ++camera) {
        if (!setup.sources[camera].isEmpty() && !resumeCamera(camera, config, set, bound, &why))
            failures << why;
    }
    QString saveError;
    if (failures.isEmpty() &&
        (!saveSet(bound ? set.id : QString(), bound ? set.config : QByteArray(), &saveError) ||
         !saveConfig(false, &saveError)))
        failures << saveError;
    if (!failures.isEmpty()) {
        dropTasks();
        *error = failures.join(QLatin1Char('\n')) +
                 QStringLiteral("\nthe task state cannot be saved: nothing was started");
        return false;
    }
    if (m_makeMatch)
        m_match = m_makeMatch(m_setup);
    m_status = Status::Ok;
    m_refusalTold.clear();
    for (int camera = 0; camera < Cameras::Count; ++camera) {
        if (m_tasks[camera])
            startTask(m_tasks[camera].get(), camera);
        // After the engine: the audit waits for the engine's thread to end before it copies.
        if (m_audits[camera])
            m_audits[camera]->start();
    }
    return true;
}

bool OffloadSession::resumeCamera(int camera, const TaskConfig &config, const OffloadSet &set,
                                  bool bound, QString *error)
{
    const TaskConfig::Camera &saved = config.cameras[camera];
    if (!createCamera(camera, saved.zipPath, saved.zipName, error))
        return false;
    DiskTask *task = m_tasks[camera].get();
    task->record.savedCount = saved.hasCount;
    const std::string file = task->record.taskFilePath;
    TaskRecord header;
    std::vector<char> entries;
    const std::string problem =
        readTaskFile(file, QFile::encodeName(saved.path).toStdString(), &header, &entries);
    if (!problem.empty() && problem != "missing") {
        const QString aside = OffloadState::keepAside(QFile::decodeName(file.c_str()));
        m_notesTold << OperatorOutcome(OperatorOutcome::TaskFileDamaged,
                                       {QFile::decodeName(file.c_str()), aside}, camera);
        m_notes << QStringLiteral("%1: the task file %2 is damaged (%3); kept as %4; the work is "
                                  "rebuilt from the card and the target")
                       .arg(cameraName(camera), QFile::decodeName(file.c_str()),
                            QString::fromStdString(problem), aside);
    }
    const bool ours =
        problem.empty() && bound && CardIdentity::listHash(entries) == set.cards[camera].listHash;
    // A card found at another place is the same card by its identity, so its list is the same;
    // the task file is written again with the new place.
    const bool reuse = ours && m_setup.sources[camera] == saved.path;
    if (!ours)
        CardHeads::clear(file); // another offload's, if any
    const int hint = ours ? header.filesDone : 0;
    if (loadTask(task, camera, !reuse) != 0) {
        m_refusalTold.prepend(OperatorOutcome(OperatorOutcome::TaskFileUnwritable,
                                              {QFile::decodeName(file.c_str())}, camera));
        *error = QStringLiteral("%1: cannot write the task file %2: %3")
                     .arg(cameraName(camera), QFile::decodeName(file.c_str()),
                          QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    // The names the start decided; without the set file they are decided again, alike.
    nameCopies(camera, bound ? &set.cards[camera] : nullptr);
    std::string note;
    std::vector<int> unchecked;
    const int done = task->record.volumeMode == 1
                         ? TargetCheck::volumeDone(task, hint, &note)
                         : TargetCheck::plainDone(task, hint, &unchecked);
    if (!note.empty()) {
        m_notes << QStringLiteral("%1: %2").arg(cameraName(camera), QString::fromStdString(note));
        m_notesTold << OperatorOutcome(OperatorOutcome::CopiesChecked, {}, camera);
    }
    if (done < hint) {
        m_notes << QStringLiteral("%1: %2 files were counted done, the target holds %3 of them")
                       .arg(cameraName(camera))
                       .arg(hint)
                       .arg(done);
        m_notesTold << OperatorOutcome(OperatorOutcome::FewerCopiesFound,
                                       {QString::number(hint), QString::number(done)}, camera);
    }
    task->filesDone = done;
    if (TaskFile::update(task) != 0 || settleTask(task, camera) != 0) {
        m_refusalTold.prepend(OperatorOutcome(OperatorOutcome::TaskFileUnwritable,
                                              {QFile::decodeName(file.c_str())}, camera));
        *error = QStringLiteral("%1: cannot write the task file %2: %3")
                     .arg(cameraName(camera), QFile::decodeName(file.c_str()),
                          QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    // Failed copies are the engine's to make again; the others taken on trust are read back.
    const std::set<int> retried(task->retries.begin(), task->retries.end());
    unchecked.erase(std::remove_if(unchecked.begin(), unchecked.end(),
                                   [&retried](int i) { return retried.count(i) > 0; }),
                    unchecked.end());
    if (!unchecked.empty())
        m_audits[camera] = std::make_unique<TargetCheck::Audit>(task, std::move(unchecked));
    return true;
}

// A new offload into a target that already holds copies of these cards' files (the same offload
// run before, finished or killed before its state was saved) takes the copies that pass the
// resume's full check as done: each read back against its checksum line and the card file (a
// tagged photo by its picture data). They keep their lines, count in the task file and the
// report, and get their heads and information table rows as if copied now. Plain mode only: an
// archive holds this run's password and volume size or another's, and a tagged entry cannot be
// told from the card file without unpacking; volume mode packs again.
QStringList OffloadSession::takeVerified()
{
    QString failures[Cameras::Count];
    std::vector<std::thread> checking;
    for (int camera = 0; camera < Cameras::Count; ++camera) {
        DiskTask *task = m_tasks[camera].get();
        if (!task || m_setup.volumes)
            continue;
        // Each card and its copies are read on a thread of their own, as the copy would.
        checking.push_back(WorkerThread::start("resume check", [this, camera, task, failure = &failures[camera]] {
            const int done = TargetCheck::plainDone(task, 0, nullptr, false);
            task->filesDone = done;
            if (TaskFile::update(task) != 0 || settleTask(task, camera) != 0) {
                *failure = QStringLiteral("%1: cannot write the task file %2: %3")
                               .arg(cameraName(camera), QFile::decodeName(task->record.taskFilePath),
                                    QString::fromLocal8Bit(std::strerror(errno)));
                return;
            }
            m_found[camera] = done;
            const std::string folder = task->record.destination;
            for (int i = 0; i < done; ++i) {
                CardHeads::noteCard(task, i);
                filed(camera, i, (folder + '/' + PlainCopy::targetRelative(task, i)).c_str(),
                      nullptr, 0);
            }
        }));
    }
    for (std::thread &thread : checking)
        thread.join();
    QStringList list;
    for (int camera = 0; camera < Cameras::Count; ++camera) {
        if (failures[camera].isEmpty())
            continue;
        m_refusalTold.prepend(OperatorOutcome(
            OperatorOutcome::TaskFileUnwritable,
            {QFile::decodeName(m_tasks[camera]->record.taskFilePath)}, camera));
        list << failures[camera];
    }
    return list;
}
