// The save gate against real offloads made by the engine (plain, tagged, split into sorties,
// zip volumes with and without a password) and the changes that must make a photo count as
// unsaved again.
#include <QtTest>

#include "offloadfixture.h"
#include "offloadsession.h"
#include "offloadset.h"
#include "phototagstep.h"
#include "savegate.h"

using namespace OffloadFixture;

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
    QTemporaryDir card;
    for (const char *name : {"AVF_INFO/AVIN0001.BNP", "PRIVATE/SONY/SONYCARD.IND", ".Trashes/x.jpg",
                             "DCIM/.hidden.jpg", "System Volume Information/IndexerVolumeGuid",
                             "DCIM/100MSDCF/DSC00002.JPG", "DCIM/100MSDCF/DSC00001.JPG",
                             "PRIVATE/M4ROOT/CLIP/C0001.MP4", "notes.txt", ".Spotlight-V100/a",
                             "DCIM/100MSDCF/._DSC00001.JPG", ".DS_Store", ".thumbs/DSC00003.JPG",
                             "DCIM/.Trashes/DSC00004.JPG"})
        QVERIFY(writeFile(card.filePath(QLatin1String(name)), "x"));
    // The camera's structure and the systems' leftovers are not the operator's photos;
    // everything else the format would erase is, hidden or not.
    QStringList photos = SaveGate::cardPhotos(card.path());
    photos.sort();
    QCOMPARE(photos, QStringList({".thumbs/DSC00003.JPG", "DCIM/.Trashes/DSC00004.JPG",
                                  "DCIM/.hidden.jpg", "DCIM/100MSDCF/DSC00001.JPG",
                                  "DCIM/100MSDCF/DSC00002.JPG", "PRIVATE/M4ROOT/CLIP/C0001.MP4",
                                  "notes.txt"}));
}

void tst_SaveGate::gate_data()
{
    QTest::addColumn<QString>("mode"); // plain, tagged, sorties, zip, zip tagged (with password)
    QTest::addColumn<QString>("change");
    QTest::addColumn<int>("unsaved");
    QTest::addColumn<bool>("backup");  // the offload had a second target
    QTest::addColumn<int>("oneCopy"); // -1: every saved photo (one target)

    QTest::newRow("plain copies") << "plain" << "" << 0 << false << -1;
    QTest::newRow("a photo taken after the offload") << "plain" << "new photo" << 1 << false << -1;
    QTest::newRow("a copy cut short") << "plain" << "truncate copy" << 1 << false << -1;
    QTest::newRow("a copy changed, same size") << "plain" << "flip copy" << 1 << false << -1;
    QTest::newRow("a renamed copy, found through the set") << "plain" << "rename copy" << 0 << false << -1;
    QTest::newRow("a hidden photo") << "plain" << "hidden photo" << 1 << false << -1;
    QTest::newRow("a photo in a hidden folder") << "plain" << "hidden folder" << 1 << false << -1;
    QTest::newRow("a card photo changed, same size") << "plain" << "flip card" << 1 << false << -1;
    QTest::newRow("a file beside the offloaded folder") << "plain" << "file beside" << 1 << false << -1;
    QTest::newRow("no offload recorded") << "plain" << "no config" << 4 << false << -1;
    QTest::newRow("tagged copies") << "tagged" << "" << 0 << false << -1;
    QTest::newRow("tagged, image data changed on the card") << "tagged" << "flip card" << 1 << false << -1;
    QTest::newRow("tagged, a copy cut short") << "tagged" << "truncate copy" << 1 << false << -1;
    QTest::newRow("tagged, a copy's header changed") << "tagged" << "flip copy head" << 1 << false << -1;
    QTest::newRow("sortie folders") << "sorties" << "" << 0 << false << -1;
    QTest::newRow("zip volumes") << "zip" << "" << 0 << false << -1;
    QTest::newRow("zip, a photo changed on the card") << "zip" << "flip card" << 1 << false << -1;
    QTest::newRow("zip, an entry changed, same size") << "zip" << "flip volume" << 1 << false << -1;
    QTest::newRow("zip, the volume not listed") << "zip" << "unlist volume" << 4 << false << -1;
    QTest::newRow("zip, tagged and encrypted") << "zip tagged" << "" << 0 << false << -1;
    QTest::newRow("zip, tagged, image data changed") << "zip tagged" << "flip card" << 1 << false << -1;
    // With a backup every photo has two verified copies, until one of them is altered.
    QTest::newRow("backup, two copies each") << "plain" << "" << 0 << true << 0;
    QTest::newRow("backup, its copy changed") << "plain" << "flip backup" << 0 << true << 1;
    QTest::newRow("backup, the first copy changed") << "plain" << "flip copy" << 0 << true << 1;
    QTest::newRow("backup, both copies changed") << "plain" << "flip both" << 1 << true << 0;
    QTest::newRow("backup, a photo taken after") << "plain" << "new photo" << 1 << true << 0;
    QTest::newRow("backup, zip volumes") << "zip" << "" << 0 << true << 0;
    QTest::newRow("backup, its volume changed") << "zip" << "flip backup volume" << 0 << true << 1;
    QTest::newRow("backup, tagged") << "tagged" << "" << 0 << true << 0;
}

void tst_SaveGate::gate()
{
    QFETCH(QString, mode);
    QFETCH(QString, change);
    QFETCH(int, unsaved);
    QFETCH(bool, backup);
    QFETCH(int, oneCopy);

    QTemporaryDir dir;
    QTemporaryDir other(QStringLiteral("/dev/shm/v7gate-XXXXXX")); // another disk than dir's
    if (backup && !other.isValid())
        QSKIP("no tmpfs at /dev/shm for the backup; not run");
    const QString card = dir.filePath(QStringLiteral("card"));
    const QString source = card + QStringLiteral("/DCIM/100MSDCF");
    QVERIFY(makeCard(source, 4));
    QVERIFY(writeFile(card + QStringLiteral("/AVF_INFO/AVIN0001.BNP"), "structure"));

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
    setup.target = dir.filePath(QStringLiteral("target"));
    if (backup)
        setup.backup = other.filePath(QStringLiteral("backup"));
    if (mode.contains("tagged") || mode == "sorties")
        setup.pos = {first, second};
    setup.splitSorties = mode == "sorties";
    setup.volumes = mode.startsWith("zip");
    setup.volumeGb = 1;
    setup.password = mode == "zip tagged";
    setup.passwordText = QStringLiteral("crew");
    PhotoTagStep tagger(setup.pos, tables, false);
    OffloadSession session;
    session.setStateFolder(dir.path());
    if (mode.contains("tagged"))
        session.setPhotoStep(tagger.step());
    QString error;
    QVERIFY2(session.start(setup, &error), qPrintable(error));
    QVERIFY(waitFor([&] { return !session.running(); }));
    QVERIFY(session.complete() && session.saveConfig(true));
    QVERIFY(!session.backupIncomplete());

    const QString folder = setup.target + QStringLiteral("/Center");
    const QString copy = folder + (setup.splitSorties ? QStringLiteral("/第1架次") : QString()) +
                         QStringLiteral("/DSC00002.JPG");
    if (change == "new photo") {
        QVERIFY(QFile::copy(source + "/DSC00001.JPG", source + "/DSC00009.JPG"));
    } else if (change == "truncate copy") {
        QVERIFY(QFile::resize(copy, QFileInfo(copy).size() - 100));
    } else if (change.startsWith("flip")) {
        // The last byte of a card photo or a copy, one in a copy's EXIF header, the middle one
        // of a volume (a photo's data).
        const QString backupCopy = setup.backup + QStringLiteral("/Center/DSC00002.JPG");
        const QMap<QString, QStringList> flipped = {
            {"flip card", {source + "/DSC00002.JPG"}},
            {"flip copy", {copy}},
            {"flip copy head", {copy}},
            {"flip both", {copy, backupCopy}},
            {"flip volume", {folder + "/pack1.zip"}},
            {"flip backup", {backupCopy}},
            {"flip backup volume", {setup.backup + QStringLiteral("/Center/pack1.zip")}}};
        QVERIFY2(flipped.contains(change), qPrintable(change)); // a row that flips nothing
        for (const QString &file : flipped.value(change)) {
            QByteArray bytes = fileBytes(file);
            QVERIFY2(!bytes.isEmpty(), qPrintable(file));
            const qsizetype at = change.endsWith("volume") ? bytes.size() / 2
                                 : change.endsWith("head") ? bytes.indexOf("Exif") + 40
                                                           : bytes.size() - 1;
            bytes[at] = char(bytes[at] ^ 0x5A);
            QVERIFY(writeFile(file, bytes));
        }
    } else if (change == "rename copy") {
        // As the engine names a copy the target would fold into another: the new name listed
        // (the old line left stale) and the card name mapped to it in the offload set.
        const QString renamed = QStringLiteral("DSC00002~2.JPG");
        QVERIFY(QFile::rename(copy, folder + '/' + renamed));
        uint64_t hash = 0;
        QCOMPARE(ChecksumList::hashFile(QFile::encodeName(folder + '/' + renamed).toStdString(),
                                        &hash), 0);
        QCOMPARE(ChecksumList::append(QFile::encodeName(folder).toStdString(),
                                      renamed.toStdString(), hash), 0);
        OffloadSet set;
        QString why;
        QCOMPARE(OffloadSet::read(OffloadSet::path(dir.path()), &set, &why), 0);
        set.cards[0].renamed.insert(QStringLiteral("DSC00002.JPG"), renamed);
        QVERIFY2(set.write(OffloadSet::path(dir.path()), &why), qPrintable(why));
    } else if (change.startsWith("hidden")) {
        QVERIFY(writeFile(change == "hidden photo" ? source + "/.DSC00005.JPG"
                                                   : card + "/.thumbs/DSC00005.JPG",
                          fileBytes(source + "/DSC00001.JPG")));
    } else if (change == "file beside") {
        QVERIFY(writeFile(card + QStringLiteral("/DCIM/notes.txt"), "beside"));
    } else if (change == "no config") {
        QVERIFY(QFile::remove(session.configPath()));
    } else if (change == "unlist volume") {
        QVERIFY(QFile::remove(folder + '/' + ChecksumList::FileName));
    }

    TaskConfig config;
    const bool recorded = TaskConfig::read(session.configPath(), &config);
    QCOMPARE(recorded, change != "no config");
    OffloadSet set;
    QString why;
    OffloadSet::read(OffloadSet::path(dir.path()), &set, &why);
    QCOMPARE(set.backup, setup.backup);
    const SaveGate::CardCheck check = SaveGate::check(
        card, recorded ? SavedCopies(config, 0, set.cards[0].renamed, set.backup) : SavedCopies());
    const bool hidden = change.startsWith("hidden");
    QCOMPARE(check.photos, 4 + (change == "new photo" || change == "file beside" || hidden));
    QCOMPARE(check.unsaved, unsaved);
    QCOMPARE(check.hiddenUnsaved, int(hidden));
    QCOMPARE(check.unsavedExamples.size(), unsaved);
    QCOMPARE(check.oneCopy, oneCopy < 0 ? check.photos - unsaved : oneCopy);
}

QTEST_GUILESS_MAIN(tst_SaveGate)
#include "tst_savegate.moc"
