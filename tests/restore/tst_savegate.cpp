// The save gate against real offloads made by the engine (plain, tagged, split into sorties,
// zip volumes with and without a password) and the changes that must make a photo count as
// unsaved again.
#include <QtTest>

#include <chrono>
#include <thread>

#include "offloadfixture.h"
#include "offloadsession.h"
#include "phototagstep.h"
#include "savegate.h"

using namespace OffloadFixture;

namespace {

enum Mode { Plain, Tagged, Sorties, Zip, ZipTaggedPassword };

void flipLastByte(const QString &path)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadWrite));
    QVERIFY(file.seek(file.size() - 1));
    char c = 0;
    QVERIFY(file.getChar(&c));
    QVERIFY(file.seek(file.size() - 1));
    QVERIFY(file.putChar(char(c ^ 0x5A)));
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
}

} // namespace

class tst_SaveGate : public QObject
{
    Q_OBJECT
private slots:
    void cardPhotos();
    void gate_data();
    void gate();
};

void tst_SaveGate::cardPhotos()
{
    QTemporaryDir dir;
    const QString card = dir.path();
    for (const char *name : {"AVF_INFO/AVIN0001.BNP", "PRIVATE/SONY/SONYCARD.IND", ".Trashes/x.jpg",
                             "DCIM/.hidden.jpg", "System Volume Information/IndexerVolumeGuid",
                             "DCIM/100MSDCF/DSC00002.JPG", "DCIM/100MSDCF/DSC00001.JPG",
                             "PRIVATE/M4ROOT/CLIP/C0001.MP4", "notes.txt"})
        writeFile(card + QLatin1Char('/') + QLatin1String(name), "x");
    // The camera's structure and the system's hidden folders are not the operator's photos;
    // everything else the format would erase is.
    QStringList photos = SaveGate::cardPhotos(card);
    photos.sort();
    QCOMPARE(photos, QStringList({"DCIM/100MSDCF/DSC00001.JPG", "DCIM/100MSDCF/DSC00002.JPG",
                                  "PRIVATE/M4ROOT/CLIP/C0001.MP4", "notes.txt"}));
}

void tst_SaveGate::gate_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<QString>("change");
    QTest::addColumn<int>("unsaved");

    QTest::newRow("plain copies") << int(Plain) << "" << 0;
    QTest::newRow("a photo taken after the offload") << int(Plain) << "new photo" << 1;
    QTest::newRow("a copy cut short") << int(Plain) << "truncate copy" << 1;
    QTest::newRow("a card photo changed, same size") << int(Plain) << "flip card" << 1;
    QTest::newRow("a file beside the offloaded folder") << int(Plain) << "file beside" << 1;
    QTest::newRow("no offload recorded") << int(Plain) << "no config" << 4;
    QTest::newRow("tagged copies") << int(Tagged) << "" << 0;
    QTest::newRow("tagged, image data changed on the card") << int(Tagged) << "flip card" << 1;
    QTest::newRow("tagged, a copy cut short") << int(Tagged) << "truncate copy" << 1;
    QTest::newRow("sortie folders") << int(Sorties) << "" << 0;
    QTest::newRow("zip volumes") << int(Zip) << "" << 0;
    QTest::newRow("zip, a photo changed on the card") << int(Zip) << "flip card" << 1;
    QTest::newRow("zip, the volume not listed") << int(Zip) << "unlist volume" << 4;
    QTest::newRow("zip, tagged and encrypted") << int(ZipTaggedPassword) << "" << 0;
    QTest::newRow("zip, tagged, image data changed") << int(ZipTaggedPassword) << "flip card" << 1;
}

void tst_SaveGate::gate()
{
    QFETCH(int, mode);
    QFETCH(QString, change);
    QFETCH(int, unsaved);

    QTemporaryDir dir;
    const QString card = dir.filePath(QStringLiteral("card"));
    const QString source = card + QStringLiteral("/DCIM/100MSDCF");
    const QString target = dir.filePath(QStringLiteral("target"));
    QVERIFY(makeCard(source, 4));
    writeFile(card + QStringLiteral("/AVF_INFO/AVIN0001.BNP"), "structure");

    OffloadPosSet first;
    first.times = {1700000000u, 1700000002u};
    first.positions = {{113.25, 23.5, 152.3}, {113.26, 23.5, 152.4}};
    OffloadPosSet second = first;
    second.positions = {{113.27, 23.5, 150.0}, {113.28, 23.5, 151.0}};
    QString tables[Cameras::Count];
    for (int c = 0; c < Cameras::Count; ++c)
        tables[c] = PhotoTagStep::tablePath(dir.path(), c);
    OffloadSession::Setup setup;
    setup.sources[0] = source;
    setup.target = target;
    std::unique_ptr<PhotoTagStep> tagger;
    if (mode == Tagged || mode == ZipTaggedPassword) {
        setup.pos = {first, second};
        tagger = std::make_unique<PhotoTagStep>(setup.pos, tables, false);
    }
    if (mode == Sorties) {
        setup.pos = {first, second};
        setup.splitSorties = true;
    }
    if (mode == Zip || mode == ZipTaggedPassword) {
        setup.volumes = true;
        setup.volumeGb = 1;
        setup.password = mode == ZipTaggedPassword;
        setup.passwordText = QStringLiteral("crew");
    }
    OffloadSession session;
    session.setStateFolder(dir.path());
    if (tagger)
        session.setPhotoStep(tagger->step());
    QString error;
    QVERIFY2(session.start(setup, &error), qPrintable(error));
    while (session.running())
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    QVERIFY(session.complete());
    QVERIFY(session.saveConfig(true));

    const QString folder = target + QStringLiteral("/Center");
    const QString copy = folder + (mode == Sorties ? QStringLiteral("/第1架次") : QString()) +
                         QStringLiteral("/DSC00002.JPG");
    if (change == QLatin1String("new photo"))
        QVERIFY(QFile::copy(source + QStringLiteral("/DSC00001.JPG"),
                            source + QStringLiteral("/DSC00009.JPG")));
    else if (change == QLatin1String("truncate copy"))
        QVERIFY(QFile::resize(copy, QFileInfo(copy).size() - 100));
    else if (change == QLatin1String("flip card"))
        flipLastByte(source + QStringLiteral("/DSC00002.JPG"));
    else if (change == QLatin1String("file beside"))
        writeFile(card + QStringLiteral("/DCIM/notes.txt"), "beside");
    else if (change == QLatin1String("no config"))
        QVERIFY(QFile::remove(session.configPath()));
    else if (change == QLatin1String("unlist volume"))
        QVERIFY(QFile::remove(folder + QStringLiteral("/checksums.xxh64")));

    TaskConfig config;
    const bool recorded = TaskConfig::read(session.configPath(), &config);
    QCOMPARE(recorded, change != QLatin1String("no config"));
    const SavedCopies copies = recorded ? SavedCopies(config, 0) : SavedCopies();
    const SaveGate::CardCheck check = SaveGate::check(card, copies);
    QCOMPARE(check.photos, 4 + (change == QLatin1String("new photo") ||
                                change == QLatin1String("file beside")));
    QCOMPARE(check.unsaved, unsaved);
    QCOMPARE(check.unsavedExamples.size(), unsaved);
}

QTEST_GUILESS_MAIN(tst_SaveGate)
#include "tst_savegate.moc"
