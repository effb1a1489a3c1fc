#include "offloadset.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QUuid>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>
#include <xxhash.h>

#include "cameracards.h"
#include "cardheads.h"
#include "cardfiles.h"
#include "phototagstep.h"
#include "postablecheck.h"
#include "syncio.h"
#include "volumequery.h"

namespace {

QString hex(uint64_t hash)
{
    return QString::number(qulonglong(hash), 16).rightJustified(16, QLatin1Char('0'));
}

QString errnoText()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

} // namespace

QString OffloadSet::path(const QString &stateFolder)
{
    return QDir(stateFolder).filePath(QStringLiteral("offloadset.json"));
}

int OffloadSet::read(const QString &path, OffloadSet *set, QString *why)
{
    QFile file(path);
    if (!file.exists())
        return -1;
    if (!file.open(QIODevice::ReadOnly)) {
        *why = QStringLiteral("%1 cannot be read: %2").arg(path, file.errorString());
        return -2;
    }
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll(), &error);
    const QJsonObject root = document.object();
    if (error.error != QJsonParseError::NoError || root.value(QLatin1String("id")).isUndefined()) {
        *why = QStringLiteral("%1 is damaged: %2 at byte %3")
                   .arg(path, error.error != QJsonParseError::NoError ? error.errorString()
                                                                      : QStringLiteral("no id"))
                   .arg(error.offset);
        return -2;
    }
    OffloadSet result;
    result.id = root.value(QLatin1String("id")).toString();
    result.target = root.value(QLatin1String("target")).toString();
    result.backup = root.value(QLatin1String("backup")).toString();
    result.config = root.value(QLatin1String("config")).toString().toUtf8();
    for (const QJsonValue &value : root.value(QLatin1String("posTables")).toArray()) {
        const QJsonObject o = value.toObject();
        result.posTables.append(PosTable{o.value(QLatin1String("path")).toString(),
                                         o.value(QLatin1String("xxh64")).toString(),
                                         o.value(QLatin1String("records")).toInt()});
    }
    result.match = root.value(QLatin1String("match")).toString();
    const QJsonValue offset = root.value(QLatin1String("offsetSeconds"));
    result.hasOffset = offset.isDouble();
    result.offsetSeconds = offset.toDouble();
    result.cameraPrefix = root.value(QLatin1String("cameraPrefix")).toBool();
    const QJsonArray cards = root.value(QLatin1String("cards")).toArray();
    for (int camera = 0; camera < Cameras::Count && camera < cards.size(); ++camera) {
        const QJsonObject o = cards.at(camera).toObject();
        Card &c = result.cards[camera];
        c.source = o.value(QLatin1String("source")).toString();
        c.mountRoot = o.value(QLatin1String("mountRoot")).toString();
        c.uuid = o.value(QLatin1String("uuid")).toString();
        c.label = o.value(QLatin1String("label")).toString();
        c.subPath = o.value(QLatin1String("subPath")).toString();
        c.files = o.value(QLatin1String("files")).toInt(-1);
        c.fingerprint = o.value(QLatin1String("fingerprint")).toString();
        c.listHash = o.value(QLatin1String("listHash")).toString();
        const QJsonObject renamed = o.value(QLatin1String("renamed")).toObject();
        for (auto it = renamed.begin(); it != renamed.end(); ++it)
            c.renamed.insert(it.key(), it.value().toString());
    }
    *set = result;
    return 0;
}

bool OffloadSet::write(const QString &path, QString *error) const
{
    QJsonObject root;
    root.insert(QLatin1String("id"), id.isEmpty() ? QUuid::createUuid().toString() : id);
    root.insert(QLatin1String("target"), target);
    if (!backup.isEmpty())
        root.insert(QLatin1String("backup"), backup);
    root.insert(QLatin1String("config"), QString::fromUtf8(config));
    if (!posTables.isEmpty()) {
        QJsonArray tables;
        for (const PosTable &t : posTables)
            tables.append(QJsonObject{{QStringLiteral("path"), t.path},
                                      {QStringLiteral("xxh64"), t.hash},
                                      {QStringLiteral("records"), t.records}});
        root.insert(QLatin1String("posTables"), tables);
    }
    if (!match.isEmpty())
        root.insert(QLatin1String("match"), match);
    if (hasOffset)
        root.insert(QLatin1String("offsetSeconds"), offsetSeconds);
    if (cameraPrefix)
        root.insert(QLatin1String("cameraPrefix"), true);
    QJsonArray list;
    for (const Card &c : cards) {
        QJsonObject o;
        o.insert(QLatin1String("source"), c.source);
        o.insert(QLatin1String("mountRoot"), c.mountRoot);
        o.insert(QLatin1String("uuid"), c.uuid);
        o.insert(QLatin1String("label"), c.label);
        o.insert(QLatin1String("subPath"), c.subPath);
        o.insert(QLatin1String("files"), c.files);
        o.insert(QLatin1String("fingerprint"), c.fingerprint);
        o.insert(QLatin1String("listHash"), c.listHash);
        if (!c.renamed.isEmpty()) {
            QJsonObject renamed;
            for (auto it = c.renamed.begin(); it != c.renamed.end(); ++it)
                renamed.insert(it.key(), it.value());
            o.insert(QLatin1String("renamed"), renamed);
        }
        list.append(o);
    }
    root.insert(QLatin1String("cards"), list);
    const QByteArray text = QJsonDocument(root).toJson();
    if (SyncIo::replaceFile(QFile::encodeName(path).toStdString(), text.toStdString()) != 0) {
        *error = QStringLiteral("cannot write %1: %2").arg(path, errnoText());
        return false;
    }
    return true;
}

bool OffloadSet::remove(const QString &path, QString *error)
{
    const std::string name = QFile::encodeName(path).toStdString();
    if (::unlink(name.c_str()) != 0 && errno != ENOENT) {
        *error = QStringLiteral("cannot remove %1: %2").arg(path, errnoText());
        return false;
    }
    SyncIo::syncFolder(SyncIo::parentOf(name));
    return true;
}

QList<OffloadSet::PosTable> OffloadSet::tablesOf(const QList<OffloadPosSet> &pos)
{
    QList<PosTable> tables;
    for (const OffloadPosSet &set : pos) {
        if (!set.fileHash.isEmpty())
            tables.append(PosTable{set.filePath, set.fileHash, int(set.positions.size())});
    }
    return tables;
}

void OffloadSet::dropTableRecords(TaskConfig *config)
{
    for (OffloadPosSet &set : config->pos) {
        if (!set.fileHash.isEmpty()) {
            set.times.clear();
            set.positions.clear();
            set.attitudes.clear();
        }
    }
}

bool OffloadSet::readTables(QList<OffloadPosSet> *pos, QString *why) const
{
    QList<OffloadPosSet> sets;
    for (const PosTable &table : posTables) {
        MyExcelObject object;
        const PosTableCheck check = PosSpreadsheet::readChecked(table.path, &object);
        if (!check.accepted()) {
            *why = QStringLiteral("the POS table of this offload cannot be read again: %1")
                       .arg(check.message(table.path));
            return false;
        }
        if (object.fileHash != table.hash) {
            *why = QStringLiteral("the POS table %1 changed since the offload started (xxh64 %2, "
                                  "now %3): put the table back as it was, or start the offload "
                                  "again")
                       .arg(table.path, table.hash, object.fileHash);
            return false;
        }
        sets.append(PhotoTagStep::posSet(object));
    }
    *pos = sets;
    return true;
}

namespace CardIdentity {

void fingerprint(const QString &folder, int *files, QString *hash)
{
    *files = -1;
    hash->clear();
    const std::string root = QFile::encodeName(folder).toStdString();
    std::vector<std::string> paths;
    if (folder.isEmpty() || CardFiles::list(root, &paths) != 0)
        return;
    XXH64_state_t *state = XXH64_createState();
    XXH64_reset(state, 0);
    for (const std::string &relative : paths) {
        struct stat st = {};
        ::stat((root + '/' + relative).c_str(), &st);
        const std::string line = relative + '\0' + std::to_string(st.st_size) + '\n';
        XXH64_update(state, line.data(), line.size());
    }
    *hash = hex(XXH64_digest(state));
    XXH64_freeState(state);
    *files = int(paths.size());
}

void describe(const QString &source, OffloadSet::Card *card)
{
    card->source = source;
    const MountedVolume volume = VolumeQuery::volumeHolding(source);
    card->mountRoot = volume.mountRoot;
    card->uuid = volume.uuid;
    card->label = volume.label;
    card->subPath = volume.isValid() ? QDir(volume.mountRoot).relativeFilePath(source) : QString();
    if (card->subPath == QLatin1String("."))
        card->subPath.clear();
    fingerprint(source, &card->files, &card->fingerprint);
}

QString listHash(const std::vector<char> &entries)
{
    return hex(XXH64(entries.data(), entries.size(), 0));
}

static bool sameCard(const OffloadSet::Card &card, const QString &folder, QString *found,
                     const QString &taskFile)
{
    if (folder.isEmpty() || !QFileInfo(folder).isDir())
        return false;
    if (!card.uuid.isEmpty()) {
        const MountedVolume volume = VolumeQuery::volumeHolding(folder);
        if (!volume.uuid.isEmpty() && volume.uuid != card.uuid) {
            *found = QStringLiteral("volume %1 \"%2\", not %3 \"%4\"")
                         .arg(volume.uuid, volume.label, card.uuid, card.label);
            return false;
        }
    }
    int files = -1;
    QString hash;
    fingerprint(folder, &files, &hash);
    int sampled = 0;
    const int differ = files == card.files && hash == card.fingerprint && !taskFile.isEmpty()
                           ? CardHeads::differing(QFile::encodeName(taskFile).toStdString(),
                                                  QFile::encodeName(folder).toStdString(), &sampled)
                           : 0;
    if (differ > 0) {
        *found = QStringLiteral("the same names and sizes, but %1 of %2 photos read again differ")
                     .arg(differ)
                     .arg(sampled);
        return false;
    }
    if (files == card.files && hash == card.fingerprint)
        return true;
    *found = files == card.files
                 ? QStringLiteral("%1 files whose names or sizes differ").arg(files)
                 : QStringLiteral("%1 files where the card had %2").arg(files).arg(card.files);
    return false;
}

static QString below(const QString &root, const QString &subPath)
{
    return subPath.isEmpty() ? root : QDir(root).filePath(subPath);
}

QString locate(const OffloadSet::Card &card, int camera, const QString &given, QString *why,
               const QString &taskFile, OperatorOutcome *told)
{
    OperatorOutcome ignoredTold;
    if (!told)
        told = &ignoredTold;
    const QString name = QString::fromLatin1(Cameras::folderName(camera));
    QString found;
    if (!given.isEmpty()) {
        for (const QString &folder : {given, below(given, card.subPath)}) {
            if (sameCard(card, folder, &found, taskFile))
                return QDir::cleanPath(folder);
        }
        *told = OperatorOutcome(OperatorOutcome::CardNotOfOffload, {given}, camera);
        *why = QStringLiteral("%1: %2 is not the card of this offload (%3)")
                   .arg(name, given, found.isEmpty() ? QStringLiteral("no such folder") : found);
        return QString();
    }
    if (sameCard(card, card.source, &found, taskFile))
        return card.source;
    const QString atSource = found;
    QList<MountedVolume> volumes = VolumeQuery::mountedVolumes();
    // The volume whose label names this camera is the likeliest place.
    std::stable_sort(volumes.begin(), volumes.end(),
                     [camera](const MountedVolume &a, const MountedVolume &b) {
                         return (CameraCards::cameraOfLabel(a.label) == camera) >
                                (CameraCards::cameraOfLabel(b.label) == camera);
                     });
    for (const MountedVolume &volume : volumes) {
        if (!card.uuid.isEmpty() && !volume.uuid.isEmpty() && volume.uuid != card.uuid)
            continue;
        const QString folder = below(volume.mountRoot, card.subPath);
        QString ignored;
        if (QDir::cleanPath(folder) != QDir::cleanPath(card.source) &&
            sameCard(card, folder, &ignored, taskFile))
            return QDir::cleanPath(folder);
    }
    *told = OperatorOutcome(atSource.isEmpty() ? OperatorOutcome::CardNotFound
                                               : OperatorOutcome::CardNotOfOffload,
                            {card.source}, camera);
    if (!atSource.isEmpty())
        *why = QStringLiteral("%1: the card at %2 is not the card of this offload (%3); put the "
                              "%1 card back or name its folder")
                   .arg(name, card.source, atSource);
    else
        *why = QStringLiteral("%1: the card is not found (%2 is missing and no mounted volume "
                              "holds it)")
                   .arg(name, card.source);
    return QString();
}

} // namespace CardIdentity
