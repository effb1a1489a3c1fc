#pragma once

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QStringList>
#include <QtTest>

// Helpers the offload tests share: card folders of real JPEGs, listings, external checkers.
namespace OffloadFixture {

inline QStringList samplePhotos()
{
    QDir samples(QStringLiteral(V7_SHARED_TESTDATA_DIR "/exif-samples"));
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

inline QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
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

inline bool xxhsumPasses(const QString &cameraFolder)
{
    QByteArray output;
    const int code = runIn(cameraFolder, QStringLiteral("xxhsum"),
                           {QStringLiteral("-c"), QStringLiteral("checksums.xxh64")}, &output);
    if (code != 0)
        qWarning("xxhsum -c in %s: %s", qPrintable(cameraFolder), output.constData());
    return code == 0;
}

} // namespace OffloadFixture
