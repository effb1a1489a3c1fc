#pragma once

#include <QtTest>

#include "cameras.h"
#include "checksumlist.h"
#include "taskrecord.h"
#include "testtools.h"

// Helpers the offload tests share: card folders of real JPEGs, listings, external checkers.
namespace OffloadFixture {

using ::fileBytes;
using ::writeFile;

inline QString cameraName(int camera)
{
    return QString::fromLatin1(Cameras::folderName(camera));
}

inline QStringList samplePhotos()
{
    QDir samples(QStringLiteral(V7_TESTDATA_DIR "/exif-samples"));
    QStringList photos;
    for (const QString &name :
         samples.entryList({QStringLiteral("*.jpg")}, QDir::Files, QDir::Name)) {
        if (!name.contains(QLatin1String("corrupted")))
            photos << samples.filePath(name);
    }
    return photos;
}

// count photos "DSC00001.JPG"... copied from the samples in turn; every subEvery-th photo goes
// into the sub-folder "100MEDIA" instead (0 = none).
inline bool makeCard(const QString &folder, int count, int subEvery = 0, int offset = 0)
{
    const QStringList photos = samplePhotos();
    if (photos.isEmpty() || !QDir().mkpath(folder))
        return false;
    for (int i = 0; i < count; ++i) {
        const bool sub = subEvery > 0 && i % subEvery == subEvery - 1;
        QString dir = folder;
        if (sub) {
            dir = folder + QStringLiteral("/100MEDIA");
            QDir().mkpath(dir);
        }
        const QString name =
            QStringLiteral("%1/DSC%2.JPG").arg(dir).arg(i + 1, 5, 10, QLatin1Char('0'));
        if (!QFile::copy(photos.at((i + offset) % photos.size()), name))
            return false;
        QFile::setPermissions(name, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup);
    }
    return true;
}

// Every file below folder, relative, sorted, hidden ones included.
inline QStringList filesBelow(const QString &folder)
{
    QStringList files;
    QDirIterator it(folder, QDir::Files | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        files << QDir(folder).relativeFilePath(it.next());
    files.sort();
    return files;
}

// The files-done counter of a task file or record on the disk; -1 when it is too short.
inline int filesDoneIn(const QString &taskFile)
{
    const QByteArray record = fileBytes(taskFile);
    if (record.size() < qsizetype(TaskLayout::FilesDone + 4))
        return -1;
    return qFromLittleEndian<qint32>(record.constData() + TaskLayout::FilesDone);
}

// QTest::qWaitFor with the deadline of a whole offload; false once ms have passed without done().
template <typename Done> bool waitFor(Done done, int ms = 120000)
{
    return QTest::qWaitFor(done, ms);
}

// Runs a checker program in folder; its exit code, output in *output.
inline int runIn(const QString &folder, const QString &program, const QStringList &arguments,
                 QByteArray *output = nullptr)
{
    QProcess process;
    process.setWorkingDirectory(folder);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    if (!process.waitForFinished(120000))
        return -1;
    if (output)
        *output = process.readAll();
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

// xxhsum -c accepts the folder's checksum list, which has one line per file or archive.
inline void checkList(const QString &folder, int lines)
{
    QByteArray output;
    QVERIFY2(runIn(folder, QStringLiteral("xxhsum"),
                   {QStringLiteral("-c"), QString::fromLatin1(ChecksumList::FileName)},
                   &output) == 0,
             qPrintable(folder + QLatin1String(": ") + QString::fromUtf8(output)));
    const QByteArray list = fileBytes(folder + QLatin1Char('/') + ChecksumList::FileName);
    QCOMPARE(list.count('\n'), qsizetype(lines));
}

// The camera folder's copies of the card's files, sorted: plain copies (the checksum list
// checked, a copy that differs named " differs") or the entries of its archives ("broken
// ARCHIVE" for one that fails unzip -t).
inline QStringList copiesIn(const QString &card, const QString &folder, bool volumes)
{
    QStringList files = filesBelow(folder);
    if (!volumes) {
        files.removeOne(QString::fromLatin1(ChecksumList::FileName));
        checkList(folder, int(files.size()));
        for (QString &file : files) {
            if (fileBytes(folder + '/' + file) != fileBytes(card + '/' + file))
                file += QStringLiteral(" differs");
        }
        return files;
    }
    QStringList entries;
    for (const QString &archive : files.filter(QStringLiteral("pack"))) {
        QByteArray out;
        runIn(folder, QStringLiteral("unzip"), {QStringLiteral("-Z1"), archive}, &out);
        if (runIn(folder, QStringLiteral("unzip"), {QStringLiteral("-tq"), archive}) != 0)
            out = "broken " + archive.toUtf8();
        entries += QString::fromUtf8(out).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }
    entries.sort();
    return entries;
}

// Plain mode: copy holds exactly the card's files, byte for byte, and their checksum list.
inline void checkCopies(const QString &card, const QString &copy)
{
    QVERIFY2(QFile::exists(copy + QLatin1Char('/') + ChecksumList::FileName), qPrintable(copy));
    QCOMPARE(copiesIn(card, copy, false), filesBelow(card));
}

// Volume mode: folder holds archives "pack1.zip"... and the checksum list only, and together
// they hold every card file exactly once, in the card's order; each passes unzip -t and 7z t
// (with the password when given, and fails with a wrong one). *archives: names in number order.
inline void checkArchives(const QString &card, const QString &folder,
                          const QString *password = nullptr, QStringList *archives = nullptr)
{
    QStringList files = filesBelow(folder);
    QVERIFY2(files.removeOne(QString::fromLatin1(ChecksumList::FileName)), qPrintable(folder));
    QStringList entries;
    for (int n = 1; n <= files.size(); ++n) {
        const QString archive = QStringLiteral("pack%1.zip").arg(n);
        QVERIFY2(files.contains(archive), qPrintable(files.join(QLatin1Char(' '))));
        QByteArray output;
        // unzip and 7z take an empty password for none: such archives are left to the caller.
        if (!password || !password->isEmpty()) {
            QStringList unzip = {QStringLiteral("-tq"), archive};
            QStringList sevenZip = {QStringLiteral("t"), archive};
            if (password) {
                unzip.prepend(QStringLiteral("-P") + *password);
                sevenZip << QStringLiteral("-p") + *password;
                const int wrong = runIn(folder, "7z", {sevenZip[0], archive, "-pwrong"});
                QVERIFY(wrong != 0);
            }
            QVERIFY2(runIn(folder, QStringLiteral("unzip"), unzip, &output) == 0,
                     output.constData());
            QVERIFY2(runIn(folder, QStringLiteral("7z"), sevenZip, &output) == 0,
                     output.constData());
        }
        runIn(folder, QStringLiteral("unzip"), {QStringLiteral("-Z1"), archive}, &output);
        entries += QString::fromUtf8(output).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        if (archives)
            *archives << archive;
    }
    QCOMPARE(entries, filesBelow(card));
    checkList(folder, int(files.size()));
}

} // namespace OffloadFixture
