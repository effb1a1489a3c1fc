#include "offloadpaths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <climits>
#include <cstdlib>

#include <sys/stat.h>

#include "cameracards.h"
#include "syncio.h"
#include "taskrecord.h"
#include "volumequery.h"

namespace {

QString cameraName(int camera)
{
    return QString::fromLatin1(Cameras::folderName(camera));
}

// A folder as the disk sees it; only a leading part of it may exist yet (a target not made).
struct Folder
{
    QString given;
    QString existing;    // the real path of the longest leading folder that exists
    QString resolved;    // existing, then the part not made yet
    bool whole = false;  // the folder itself exists
    struct stat st = {}; // of existing
};

Folder folderOf(const QString &path)
{
    Folder f;
    f.given = path;
    QString at = QFileInfo(path).absoluteFilePath();
    QString rest;
    for (;;) {
        char real[PATH_MAX];
        if (::realpath(QFile::encodeName(at).constData(), real) && ::stat(real, &f.st) == 0) {
            f.existing = QFile::decodeName(real);
            break;
        }
        if (at == QLatin1String("/"))
            break;
        const qsizetype slash = at.lastIndexOf(QLatin1Char('/'));
        rest.prepend(at.mid(slash));
        at = slash > 0 ? at.left(slash) : QStringLiteral("/");
    }
    f.whole = rest.isEmpty() && !f.existing.isEmpty();
    f.resolved = QDir::cleanPath(f.existing + rest);
    return f;
}

// inner is outer or lies below it: one of inner's folders, from its own up to the root, is
// outer's (device and inode), which a bind mount or a second link to a folder cannot hide.
bool within(const Folder &inner, const Folder &outer)
{
    if (!outer.whole) // not made yet: only a folder not made yet can lie below it
        return inner.resolved == outer.resolved ||
               inner.resolved.startsWith(outer.resolved + QLatin1Char('/'));
    for (QString at = inner.existing; !at.isEmpty();) {
        struct stat st = {};
        if (::stat(QFile::encodeName(at).constData(), &st) == 0 &&
            st.st_dev == outer.st.st_dev && st.st_ino == outer.st.st_ino)
            return true;
        if (at == QLatin1String("/"))
            break;
        const qsizetype slash = at.lastIndexOf(QLatin1Char('/'));
        at = slash > 0 ? at.left(slash) : QStringLiteral("/");
    }
    return false;
}

dev_t deviceOf(const QString &path)
{
    struct stat st = {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_dev : dev_t(-1);
}

// The card folder lies on a camera card (a volume the label names as a camera's, or one
// with the cameras' DCIM folder) that also holds the target. The disk of the system or of the
// home folder is never taken for a card: the demo's and the tests' cards are folders there.
bool targetOnCard(const Folder &card, const Folder &target)
{
    if (card.st.st_dev != target.st.st_dev || card.st.st_dev == deviceOf(QStringLiteral("/")) ||
        card.st.st_dev == deviceOf(QDir::homePath()))
        return false;
    const MountedVolume volume = VolumeQuery::volumeHolding(card.existing);
    return volume.isValid() &&
           (CameraCards::cameraOfLabel(volume.label) >= 0 ||
            QFileInfo(volume.mountRoot + QStringLiteral("/DCIM")).isDir());
}

OffloadPaths::Refusal refusal(const QString &message, const char *prompt,
                              const QStringList &paths)
{
    return {message, QString::fromUtf8(prompt), paths.join(QLatin1Char('\n'))};
}

// The backup weighed as the target is, and against the target: a second copy on the disk of the
// first survives nothing the first does not.
OffloadPaths::Refusal checkBackup(const OffloadSession::Setup &setup, const Folder &target,
                                  const Folder cards[Cameras::Count])
{
    const Folder backup = folderOf(setup.backup);
    for (int camera = 0; camera < Cameras::Count; ++camera) {
        const Folder &card = cards[camera];
        if (card.whole && (within(backup, card) || within(card, backup) ||
                           targetOnCard(card, backup)))
            return refusal(QStringLiteral("the backup %1 and the %2 card folder %3 overlap or "
                                          "share the card: choose a backup on another disk")
                               .arg(backup.given, cameraName(camera), card.given),
                           "备份目录与相机卡目录重叠或在相机卡上,请选择其他磁盘！",
                           {backup.given, card.given});
    }
    if (!backup.existing.isEmpty() && !target.existing.isEmpty() &&
        (within(backup, target) || within(target, backup) ||
         SyncIo::sameDisk(uint64_t(backup.st.st_dev), uint64_t(target.st.st_dev))))
        return refusal(QStringLiteral("the backup %1 is on the same disk as the target %2: a "
                                      "second copy must be on another disk")
                           .arg(backup.given, target.given),
                       "备份目录与目标目录在同一磁盘上,请选择其他磁盘！",
                       {backup.given, target.given});
    return {};
}

} // namespace

namespace OffloadPaths {

Refusal check(const OffloadSession::Setup &setup)
{
    // The task record's texts, as the session fills them for each camera.
    const auto fits = [](const QString &path) {
        return size_t(QFile::encodeName(path).size()) < TaskLayout::TextSize;
    };
    for (int camera = 0; camera < Cameras::Count; ++camera) {
        const QString &source = setup.sources[camera];
        if (source.isEmpty())
            continue;
        const QString folder = QDir(setup.target).filePath(cameraName(camera));
        if (!fits(source) || !fits(folder + QStringLiteral("/pack1.zip")))
            return refusal(QStringLiteral("%1: the target %2 or the card folder %3 is too long for "
                                          "the engine's task record (255 bytes)")
                               .arg(cameraName(camera), setup.target, source),
                           "目录路径太长,请重新选择目录！", {setup.target, source});
    }
    if (size_t(setup.passwordText.toUtf8().size()) >= TaskLayout::TextSize)
        return refusal(QStringLiteral("the password is longer than 255 bytes"),
                       "密码太长,请重新输入！", {});
    if (setup.target.isEmpty())
        return {};

    const Folder target = folderOf(setup.target);
    Folder cards[Cameras::Count];
    for (int camera = 0; camera < Cameras::Count; ++camera) {
        if (!setup.sources[camera].isEmpty())
            cards[camera] = folderOf(setup.sources[camera]);
    }
    // A card folder that is missing is refused by the start itself.
    for (int camera = 0; camera < Cameras::Count; ++camera) {
        const Folder &card = cards[camera];
        if (!card.whole)
            continue;
        const QString name = cameraName(camera);
        const bool targetInCard = within(target, card);
        const bool cardInTarget = within(card, target);
        if (targetInCard && cardInTarget)
            return refusal(QStringLiteral("the target %1 is the %2 card folder %3: choose a "
                                          "target apart from the cards")
                               .arg(target.given, name, card.given),
                           "目标目录就是相机卡目录,请重新选择目录！", {target.given, card.given});
        if (targetInCard)
            return refusal(QStringLiteral("the target %1 lies inside the %2 card folder %3: a "
                                          "later offload would copy the copies")
                               .arg(target.given, name, card.given),
                           "目标目录在相机卡目录内,请重新选择目录！", {target.given, card.given});
        if (cardInTarget)
            return refusal(QStringLiteral("the %2 card folder %3 lies inside the target %1: the "
                                          "copies would be written over the card's files")
                               .arg(target.given, name, card.given),
                           "相机卡目录在目标目录内,请重新选择目录！", {target.given, card.given});
        for (int other = camera + 1; other < Cameras::Count; ++other) {
            if (cards[other].whole &&
                (within(cards[other], card) || within(card, cards[other])))
                return refusal(QStringLiteral("the %1 card folder %2 and the %3 card folder %4 "
                                              "overlap: each camera needs a card folder of its "
                                              "own")
                                   .arg(name, card.given, cameraName(other), cards[other].given),
                               "两个相机选择了相同或重叠的目录,请重新选择！",
                               {card.given, cards[other].given});
        }
    }
    if (!setup.backup.isEmpty()) {
        const Refusal refused = checkBackup(setup, target, cards);
        if (refused.refused())
            return refused;
    }
    for (int camera = 0; camera < Cameras::Count; ++camera) {
        if (cards[camera].whole && targetOnCard(cards[camera], target))
            return refusal(QStringLiteral("the target %1 is on the card of %2 (%3): a copy on "
                                          "the card it came from is no copy; choose another disk")
                               .arg(target.given, cameraName(camera), cards[camera].given),
                           "目标目录在相机卡上,请选择其他磁盘！",
                           {target.given, cards[camera].given});
    }
    return {};
}

} // namespace OffloadPaths
