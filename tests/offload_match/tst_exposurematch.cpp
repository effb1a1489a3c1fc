// Exposure matching on generated flights: whole-second clocks, offsets of hours, missed and
// extra shots, sorties; then `v7tool match` and `v7tool offload --pos` on cards of real JPEGs.
#include <QtTest>
#include <QtXml/QDomDocument>

#include <random>

#include "exifbuilder.h"
#include "exifreader.h"
#include "exposurematcher.h"
#include "exposurephotos.h"
#include "offloadfixture.h"

using namespace OffloadFixture;

namespace {

// The flight as it happened, and what the cards and the POS tables make of it.
struct Flight
{
    QList<OffloadPosSet> sets;
    QList<MatchPhoto> photos[Cameras::Count];
    std::vector<int> recordOf[Cameras::Count]; // the truth, per photo
    std::vector<int> missed[Cameras::Count];
    std::vector<int> extra[Cameras::Count];
};

struct Plan
{
    double interval = 2;
    int sorties = 1;
    int lines = 3;
    int perLine = 40;
    QList<double> offsets;  // camera clock minus POS clock, by engine camera number
    QString missing;        // "camera:record,record;...", a negative record counts from the end
    QList<int> testShots;   // shots on the ground before the first record, per camera
    double randomShare = 0; // of each camera's exposures missed, as many extra in the turns
    bool times = true;
    // Cards holding records [heldFrom, heldTo) of a trigger on whole POS seconds (no turns
    // when one line); heldTo 0: all.
    int heldFrom = 0;
    int heldTo = 0;
};

Flight fly(const Plan &plan, quint32 seed)
{
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> jitter(-0.03, 0.03);
    Flight f;
    std::vector<double> exposures;
    std::vector<double> turns; // moments between lines or sorties when no record is taken
    // The trigger's timer keeps its phase through a sortie; each exposure lags it a little.
    std::uniform_real_distribution<double> phase(0, 1);
    const bool whole = plan.heldTo > 0;
    if (whole)
        jitter = std::uniform_real_distribution<double>(0.005, 0.03);
    double t = double(QDateTime(QDate(2024, 5, 1), QTime(9, 0)).toSecsSinceEpoch()) +
               (whole ? 0 : phase(rng));
    for (int s = 0; s < plan.sorties; ++s) {
        OffloadPosSet set;
        set.filePath = QStringLiteral("sortie%1.xls").arg(s + 1);
        for (int l = 0; l < plan.lines; ++l) {
            for (int n = 0; n < plan.perLine; ++n) {
                const int k = int(exposures.size());
                const double exposure = t + jitter(rng);
                exposures.push_back(exposure);
                set.times << uint(std::floor(exposure));
                set.positions << OffloadPosPoint{113.0 + k * 1e-4, 23.0 + s * 0.01, 300.0 + k};
                t += plan.interval;
            }
            turns.push_back(t + 4.3);
            t += 15 + 3 * l;
        }
        f.sets << set;
        t += 7200 + phase(rng);
    }
    const int records = int(exposures.size());
    std::uniform_int_distribution<int> anyRecord(0, records - 1);
    std::uniform_int_distribution<int> anyTurn(0, int(turns.size()) - 1);
    QHash<int, QSet<int>> missing;
    for (const QString &part : plan.missing.split(';', Qt::SkipEmptyParts)) {
        const int camera = part.section(':', 0, 0).toInt();
        for (const QString &r : part.section(':', 1).split(','))
            missing[camera].insert(r.toInt() < 0 ? records + r.toInt() : r.toInt());
    }
    for (int c = 0; c < Cameras::Count; ++c) {
        struct Shot
        {
            double at;
            int record;
        };
        std::vector<Shot> shots;
        const int random = int(plan.randomShare * records);
        const qsizetype wanted = missing[c].size() + random;
        while (missing[c].size() < wanted)
            missing[c].insert(anyRecord(rng));
        for (int k = 0; k < records; ++k) {
            if (whole && (k < plan.heldFrom || k >= plan.heldTo))
                f.missed[c].push_back(k);
            else if (!missing[c].contains(k))
                shots.push_back({exposures[size_t(k)] + 0.002 * c, k});
            else
                f.missed[c].push_back(k);
        }
        for (int n = 0; n < plan.testShots.value(c); ++n)
            shots.push_back({exposures.front() - 600 + 7 * n, -1});
        for (int n = 0; n < random; ++n)
            shots.push_back({turns[size_t(anyTurn(rng))] + 0.25 * n, -1});
        std::stable_sort(shots.begin(), shots.end(),
                         [](const Shot &a, const Shot &b) { return a.at < b.at; });
        for (const Shot &shot : shots) {
            MatchPhoto photo;
            photo.path =
                QStringLiteral("DSC%1.JPG").arg(f.photos[c].size() + 1, 5, 10, QLatin1Char('0'));
            photo.hasTime = plan.times;
            // Tenths of an offset come with SubSecTimeOriginal, as the cameras write it.
            const double offset = plan.offsets.value(c);
            const bool tenths = offset != std::floor(offset);
            photo.time =
                tenths ? std::floor((shot.at + offset) * 10) / 10 : std::floor(shot.at + offset);
            if (shot.record < 0)
                f.extra[c].push_back(int(f.photos[c].size()));
            f.photos[c] << photo;
            f.recordOf[c].push_back(shot.record);
        }
    }
    return f;
}

ExposureMatch match(const Flight &f, ExposureMatcher::Method method = ExposureMatcher::Method::Time)
{
    ExposureMatcher matcher;
    matcher.setMethod(method);
    matcher.setRecords(f.sets);
    for (int c = 0; c < Cameras::Count; ++c)
        matcher.setPhotos(c, f.photos[c]);
    return matcher.run();
}

// The first few differences between two lists, for the failure message.
QString firstDifferences(const std::vector<int> &got, const std::vector<int> &want)
{
    QStringList out;
    for (size_t k = 0; k < std::max(got.size(), want.size()) && out.size() < 6; ++k) {
        const int g = k < got.size() ? got[k] : -2;
        const int w = k < want.size() ? want[k] : -2;
        if (g != w)
            out << QStringLiteral("[%1] %2 instead of %3").arg(k).arg(g).arg(w);
    }
    return out.join(QStringLiteral(", "));
}

const double Hour = 3600;

// A copy of no_exif.jpg whose EXIF block holds DateTimeOriginal (and SubSecTimeOriginal when
// given) alone, as the cameras write it.
QByteArray photoTakenAt(const QString &dateTime, const QByteArray &sub = {})
{
    static const QByteArray base = fileBytes(QStringLiteral(V7_TESTDATA_DIR "/no_exif.jpg"));
    const Exif b{false};
    QList<Exif::Entry> exif{b.ascii(0x9003, dateTime.toLatin1())};
    if (!sub.isEmpty())
        exif << b.ascii(0x9291, sub);
    return base.left(2) + section(0xE1, QByteArray("Exif\0\0", 6) + b.tiff({}, exif)) +
           base.mid(2);
}

// The photos of a card, taken at their times.
bool writeCard(const QString &card, const QList<MatchPhoto> &photos)
{
    for (const MatchPhoto &p : photos) {
        const QString taken = QDateTime::fromSecsSinceEpoch(qint64(p.time))
                                  .toString(QStringLiteral("yyyy:MM:dd hh:mm:ss"));
        if (!writeFile(card + '/' + p.path, photoTakenAt(taken)))
            return false;
    }
    return true;
}

QJsonObject jsonFile(const QString &path)
{
    return QJsonDocument::fromJson(fileBytes(path)).object();
}

// The POS table of a set as the camera's spreadsheet holds it.
QByteArray posTable(const OffloadPosSet &set)
{
    QString text =
        QStringLiteral("ID\tLon\tLat\tAlt\tHeading\tPitch\tRoll\tPsi_GPS\tSpeed\tTime\n");
    for (int i = 0; i < set.positions.size(); ++i) {
        text += QStringLiteral("%1\t%2\t%3\t%4\t0\t0\t0\t0\t5.0\t%5\n")
                    .arg(i + 1)
                    .arg(set.positions[i].x, 0, 'f', 6)
                    .arg(set.positions[i].y, 0, 'f', 6)
                    .arg(set.positions[i].z)
                    .arg(QDateTime::fromSecsSinceEpoch(set.times[i])
                             .toString(QStringLiteral("yyyy/MM/dd hh:mm:ss")));
    }
    return text.toUtf8();
}

// A long POS table as a survey day or a merged week writes it: rows lines of 100 exposures
// 2 s apart, turning back and forth across a block.
QByteArray longTable(int rows)
{
    OffloadPosSet set;
    const qint64 six = QDateTime(QDate(2024, 5, 1), QTime(6, 0)).toSecsSinceEpoch();
    for (int k = 0; k < rows; ++k) {
        const int line = k / 100, along = line % 2 ? 99 - k % 100 : k % 100;
        set.times << uint(six + 2 * k + 37 * line);
        set.positions << OffloadPosPoint{113.0 + along * 2e-4, 23.0 + line * 1e-4, 500};
    }
    return posTable(set);
}

} // namespace

Q_DECLARE_METATYPE(Plan)

class TestExposureMatch : public QObject
{
    Q_OBJECT
private slots:
    void generatedFlights_data();
    void generatedFlights();
    void noTimesFallBackToIndex();
    void captureTimes_data();
    void captureTimes();
    void offloadBySplitSorties_data();
    void offloadBySplitSorties();
    void ambiguousOffsetNeedsTheOperator();
    void longTable();
};

void TestExposureMatch::generatedFlights_data()
{
    QTest::addColumn<Plan>("plan");
    QTest::addColumn<QString>("method");

    // held: "records:from-to", one evenly triggered line.
    const auto row = [](const char *tag, double interval, int sorties, const QList<double> &offsets,
                        const char *missing = "", const QList<int> &testShots = {},
                        double randomShare = 0, const QString &held = "",
                        const char *method = "time") {
        Plan plan;
        if (!held.isEmpty()) {
            plan.lines = 1;
            plan.perLine = held.section(':', 0, 0).toInt();
            plan.heldFrom = held.section(':', 1).section('-', 0, 0).toInt();
            plan.heldTo = held.section('-', 1).toInt();
        }
        plan.interval = interval;
        plan.sorties = sorties;
        plan.offsets = offsets;
        plan.missing = QString::fromLatin1(missing);
        plan.testShots = testShots;
        plan.randomShare = randomShare;
        QTest::newRow(tag) << plan << QString::fromLatin1(method);
    };
    const double west = -8 * Hour + 0.4;
    const auto all = [](double o) { return QList<double>{o, o, o, o, o}; };
    const QList<double> mixed{west, 3.7, west, 3.7, 3.7};
    row("1 s, -8 h + 0.4 s, clean", 1, 1, all(west));
    row("2 s, +3.7 s, clean", 2, 1, all(3.7));
    row("1 s, missed at start, middle and end", 1, 1, mixed, "1:0,1;3:57;4:-1;0:-3,-2,-1");
    row("2 s, missed at start, middle and end", 2, 1, mixed, "1:0;3:40,41,80;2:-1");
    row("1 s, test shots before the first record", 1, 1, all(west), "2:0", {3, 0, 2, 0, 5});
    row("2 s, two sorties, missed around the gap", 2, 2, mixed, "0:119,120;4:0;1:239",
        {2, 2, 2, 2, 2});
    row("1 s, two sorties, 5 % missed and extra", 1, 2, mixed, "", {1, 0, 0, 0, 1}, 0.05);
    row("2 s, two sorties, 5 % missed and extra", 2, 2, all(west), "", {0, 3, 0, 0, 0}, 0.05);
    // Evenly triggered cards that hold a part of the records fit at any whole number of
    // intervals: the offset nearest a whole hour wins when it stands out, else no guess.
    row("middle part, 2 s, -8 h + 0.4 s", 2, 1, all(west), "", {}, 0, "600:200-400",
        "nearest-hour");
    row("start, 1 s, +0.3 s", 1, 1, all(0.3), "", {}, 0, "600:0-250", "nearest-hour");
    row("end, 2.5 s, -1 h + 0.2 s", 2.5, 1, all(-Hour + 0.2), "", {}, 0, "600:350-600",
        "nearest-hour");
    row("middle part, 2 s, +0.9 s", 2, 1, all(0.9), "", {}, 0, "600:200-400", "ambiguous");
    row("middle part, 2 s, +7 min 1 s", 2, 1, all(421), "", {}, 0, "600:200-400", "ambiguous");
    row("all records, 2 missed, 2 s, +5 min", 2, 1, all(300),
        "0:150,420;1:150,420;2:150,420;3:150,420;4:150,420", {}, 0, "600:0-600");
}

// Every photo gets the record of its own exposure; the missed and the extra ones are exactly
// the ones made; the clock offset is found to within a second, the way the row says. An
// ambiguous offset pairs no photo and offers offsets the trigger allows.
void TestExposureMatch::generatedFlights()
{
    QFETCH(Plan, plan);
    QFETCH(QString, method);
    for (quint32 seed : {1u, 2u, 3u}) {
        const Flight f = fly(plan, seed);
        const ExposureMatch m = match(f);
        QCOMPARE(m.recordCount(), int(f.sets.size()) * plan.lines * plan.perLine);
        for (int c = 0; c < Cameras::Count; ++c) {
            const ExposureMatch::Camera &got = m.cameras[c];
            const QString where = QStringLiteral("seed %1, %2: ")
                                      .arg(seed)
                                      .arg(QLatin1String(Cameras::folderName(c)));
            static const QStringList methods{"time", "nearest-hour", "given-offset", "ambiguous"};
            QCOMPARE(methods.at(int(got.offsetFrom)), method);
            if (method == QLatin1String("ambiguous")) {
                QVERIFY(std::all_of(got.recordOf.begin(), got.recordOf.end(),
                                    [](int r) { return r < 0; }));
                QVERIFY(got.candidates.size() >= 2);
                for (double o : got.candidates) // equal fits: whole intervals from the truth
                    QVERIFY(std::fabs(std::remainder(o - plan.offsets[c], plan.interval)) < 0.2);
                continue;
            }
            QVERIFY2(got.byTime, qPrintable(where + QLatin1String("not matched by time")));
            for (const auto &[g, w] :
                 {std::pair{&got.recordOf, &f.recordOf[c]}, std::pair{&got.missed, &f.missed[c]},
                  std::pair{&got.extra, &f.extra[c]}})
                QVERIFY2(*g == *w, qPrintable(where + firstDifferences(*g, *w)));
            QVERIFY2(std::fabs(got.offsetSeconds - plan.offsets[c]) < 1.0,
                     qPrintable(where + QString::number(got.offsetSeconds, 'f', 3)));
        }
        QCOMPARE(m.ambiguous(), method == QLatin1String("ambiguous"));
        QCOMPARE(m.clean(), plan.missing.isEmpty() && plan.testShots.isEmpty() &&
                                plan.randomShare == 0 && plan.heldTo == 0);
    }
}

// Photos without capture times keep the old rule, photo i = record i, and say so; so does a
// match asked for by index although the times would do.
void TestExposureMatch::noTimesFallBackToIndex()
{
    Plan plan;
    plan.offsets = {3.7, 3.7, 3.7, 3.7, 3.7};
    plan.missing = QStringLiteral("0:5;2:5");
    Flight f = fly(plan, 7);
    const ExposureMatch byIndex = match(f, ExposureMatcher::Method::Index);
    // One photo of four cameras lacks its time, every photo of the centre camera.
    for (int c = 1; c < Cameras::Count; ++c)
        f.photos[c][c].hasTime = false;
    for (MatchPhoto &photo : f.photos[0])
        photo.hasTime = false;
    const ExposureMatch m = match(f);
    const QJsonObject json = ExposurePhotos::json(m, f.sets);
    const int records = plan.lines * plan.perLine;
    for (int c = 0; c < Cameras::Count; ++c) {
        QCOMPARE(byIndex.cameras[c].byTime, false);
        QCOMPARE(m.cameras[c].byTime, c != 0);
        if (c != 0) {
            // The photo without a time takes the one free record between its neighbours.
            QCOMPARE(m.cameras[c].recordOf, f.recordOf[c]);
            continue;
        }
        const int photos = int(f.photos[c].size());
        for (int j = 0; j < photos; ++j)
            QCOMPARE(m.cameras[c].recordOf[size_t(j)], j);
        QCOMPARE(m.cameras[c].missed, std::vector<int>{records - 1});
    }
    const QJsonArray cameras = json.value("cameras").toArray();
    QCOMPARE(cameras.size(), Cameras::Count);
    for (const QJsonValue &v : cameras) {
        const QJsonObject o = v.toObject();
        const bool center = o.value("camera").toString() == QLatin1String("Center");
        QCOMPARE(o.value("method").toString(),
                 center ? QStringLiteral("index") : QStringLiteral("time"));
        QCOMPARE(o.value("offsetSeconds").isNull(), center);
    }
}

void TestExposureMatch::captureTimes_data()
{
    QTest::addColumn<QString>("dateTime");
    QTest::addColumn<QByteArray>("sub");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<double>("fraction");
    QTest::newRow("whole seconds") << "2024:05:01 09:00:07" << QByteArray() << true << 0.0;
    QTest::newRow("hundredths") << "2024:05:01 09:00:07" << QByteArray("25") << true << 0.25;
    QTest::newRow("one digit") << "2024:05:01 09:00:07" << QByteArray("7") << true << 0.7;
    QTest::newRow("blank date") << "    :  :     :  :  " << QByteArray() << false << 0.0;
    QTest::newRow("month 13") << "2024:13:01 09:00:07" << QByteArray() << false << 0.0;
}

// The capture time as the match reads it from a header: local time like the POS tables, the
// sub-second digits as a fraction, no time for a blank or impossible date.
void TestExposureMatch::captureTimes()
{
    QFETCH(QString, dateTime);
    QFETCH(QByteArray, sub);
    QFETCH(bool, valid);
    QFETCH(double, fraction);
    const QByteArray photo = photoTakenAt(dateTime, sub);
    const PhotoInfo info = ExifReader::readBuffer(photo.constData(), size_t(photo.size()));
    double seconds = 0;
    QCOMPARE(ExposurePhotos::captureTime(info.dateTime, info.subSecTime, &seconds), valid);
    if (valid) {
        const QDateTime local =
            QDateTime::fromString(dateTime, QStringLiteral("yyyy:MM:dd hh:mm:ss"));
        QCOMPARE(seconds, double(local.toSecsSinceEpoch()) + fraction);
    }
}

// A flight of two sorties through `v7tool offload --pos --split-sorties`: every copy carries
// its own record's position (exiftool reads it back), extra shots stay untagged outside the
// sortie folders, each block file lists exactly its sortie's photos at their records, and
// `v7tool match --json` says the same pairs. Each sortie's geo.txt names, once each, a photo of
// its OpenDroneMap project's images/ that carries the line's position, though a card holds
// "ZMEDIA/DSC00001.JPG" beside "DSC00001.JPG" and the five cards name their photos alike;
// with --camera-prefix, kept by a resume, the copies themselves have those names.
void TestExposureMatch::offloadBySplitSorties_data()
{
    QTest::addColumn<bool>("prefix");
    QTest::newRow("card names") << false;
    QTest::newRow("camera prefix") << true;
}

void TestExposureMatch::offloadBySplitSorties()
{
    QFETCH(bool, prefix);
    const QString exiftool = QStandardPaths::findExecutable(QStringLiteral("exiftool"));
    if (exiftool.isEmpty())
        QSKIP("exiftool is not installed");
    Plan plan;
    plan.sorties = 2;
    plan.lines = 2;
    plan.perLine = 6;
    plan.offsets = {-8 * Hour + 0.4, 3.7, 3.7, -8 * Hour + 0.4, 3.7};
    plan.missing = QStringLiteral("1:0;3:13;2:-1");
    plan.testShots = {2, 0, 0, 0, 1};
    Flight f = fly(plan, 11);
    // The last photo in a folder that sorts after the card's own photos, under the first's name.
    for (QList<MatchPhoto> &photos : f.photos)
        photos.last().path = QStringLiteral("ZMEDIA/") + photos[0].path;
    QTemporaryDir dir;
    QStringList arguments;
    for (int c = 0; c < Cameras::Count; ++c) {
        const QString card = dir.filePath(QStringLiteral("cards/") + cameraName(c));
        QVERIFY(writeCard(card, f.photos[c]));
        arguments << QStringLiteral("--") + QLatin1String(Cameras::lowerName(c)) << card;
    }
    std::vector<int> setOf; // sortie and position of each record through the sets
    std::vector<OffloadPosPoint> positionOf;
    for (int s = 0; s < f.sets.size(); ++s) {
        setOf.insert(setOf.end(), size_t(f.sets[s].positions.size()), s);
        positionOf.insert(positionOf.end(), f.sets[s].positions.begin(), f.sets[s].positions.end());
        const QString table = dir.filePath(QStringLiteral("sortie%1.xls").arg(s + 1));
        QVERIFY(writeFile(table, posTable(f.sets[s])));
        arguments << QStringLiteral("--pos") << table;
    }

    const ToolRun matchRun = runTool(V7TOOL, QStringList{"match", "--json"} + arguments);
    QCOMPARE(matchRun.exitCode, 1);
    const QJsonObject json = matchRun.json();
    QCOMPARE(json.value("sorties").toArray().size(), 2);

    const QString target = dir.filePath(QStringLiteral("target"));
    // With the prefix the start is killed half-way: the resume, not told again, keeps it.
    const QStringList state{"V7_STATE_DIR=" + dir.filePath(QStringLiteral("state"))};
    const QStringList start =
        QStringList{"offload", "--target", target, "--split-sorties"} + arguments;
    if (prefix)
        runTool(V7TOOL, start + QStringList{"--camera-prefix"},
                state + QStringList{"V7_OFFLOAD_FAULT=3:6:written:kill"});
    const ToolRun offload = runTool(V7TOOL, prefix ? QStringList{"offload", "--resume"} : start,
                                    state + QStringList{"V7_OFFLOAD_FAULT"});
    QVERIFY2(offload.exitCode == 0, (offload.out + offload.err).constData());
    // The copies' names as the offload recorded them for a resume (card path -> copy path).
    const QJsonArray cardSets =
        jsonFile(dir.filePath(QStringLiteral("state/offloadset.json"))).value("cards").toArray();
    QVERIFY2(offload.out.contains("2 block files written"), offload.out.constData());
    // The flight report carries the same match as the check before the copy.
    const QJsonObject report = jsonFile(target + QStringLiteral("/offload-report.json"));
    QCOMPARE(report.value("sorties"), json.value("sorties"));
    const QJsonArray reported = report.value("cameras").toArray();
    const QJsonArray checked = json.value("cameras").toArray();
    QCOMPARE(reported.size(), checked.size());
    for (int i = 0; i < checked.size(); ++i) {
        const QJsonObject o = checked.at(i).toObject();
        int c = 0;
        while (cameraName(c) != o.value("camera").toString())
            ++c;
        QVERIFY2(o.value("method").toString() == QLatin1String("time"),
                 QJsonDocument(o).toJson(QJsonDocument::Compact).left(600).constData());
        QCOMPARE(o.value("missed").toArray().size(), qsizetype(f.missed[c].size()));
        QCOMPARE(o.value("extra").toArray().size(), qsizetype(f.extra[c].size()));
        // Which record each photo has shows in the copies' tags and the exports below.
        QCOMPARE(o.value("pairs").toArray().size(),
                 f.photos[c].size() - qsizetype(f.extra[c].size()));
        for (const char *key : {"camera", "pairs", "missed", "extra", "method"})
            QCOMPARE(reported.at(i).toObject().value(QLatin1String(key)),
                     o.value(QLatin1String(key)));
    }

    QByteArray output;
    QCOMPARE(runIn(target, exiftool,
                   {"-q", "-j", "-n", "-r", "-ext", "JPG", "-GPSLatitude", "-GPSLongitude", "."},
                   &output),
             0);
    QHash<QString, QJsonObject> read;
    for (const QJsonValue &v : QJsonDocument::fromJson(output.mid(output.indexOf('['))).array())
        read.insert(v.toObject().value("SourceFile").toString().mid(2), v.toObject());
    QSet<QString> blockPhotos[2];
    for (int c = 0; c < Cameras::Count; ++c) {
        for (int j = 0; j < f.photos[c].size(); ++j) {
            const int record = f.recordOf[c][size_t(j)];
            const QString copy =
                cameraName(c) + '/' +
                (record < 0 ? QString()
                            : QStringLiteral("第%1架次/").arg(setOf[size_t(record)] + 1)) +
                cardSets.at(c)["renamed"][f.photos[c][j].path].toString(f.photos[c][j].path);
            QCOMPARE(QFileInfo(copy).fileName().startsWith(cameraName(c) + '_'), prefix);
            QVERIFY2(read.contains(copy), qPrintable(copy));
            const QJsonObject tags = read.value(copy);
            if (record < 0) {
                QVERIFY2(!tags.contains("GPSLatitude"), qPrintable(copy));
                continue;
            }
            const OffloadPosPoint p = positionOf[size_t(record)];
            QVERIFY2(std::fabs(tags.value("GPSLongitude").toDouble() - p.x) < 1e-6 &&
                         std::fabs(tags.value("GPSLatitude").toDouble() - p.y) < 1e-6,
                     qPrintable(copy));
            blockPhotos[setOf[size_t(record)]].insert(QStringLiteral("./") + copy + '@' +
                                                      QString::number(p.x, 'f', 6));
        }
    }
    for (int s = 0; s < 2; ++s) {
        QDomDocument block;
        QVERIFY(block.setContent(fileBytes(target + QStringLiteral("/第%1架次.xml").arg(s + 1))));
        QSet<QString> listed;
        const QDomNodeList photos = block.elementsByTagName(QStringLiteral("Photo"));
        for (int k = 0; k < photos.size(); ++k) {
            const QDomElement e = photos.at(k).toElement();
            const QDomElement center = e.firstChildElement("Pose").firstChildElement("Center");
            listed.insert(e.firstChildElement("ImagePath").text() + '@' +
                          QString::number(center.firstChildElement("x").text().toDouble(), 'f', 6));
        }
        QCOMPARE(listed.size(), photos.size());
        QCOMPARE(listed, blockPhotos[s]);

        QSet<QString> copyNames; // base names of the copies in the target, each once
        qsizetype copies = 0;
        for (auto it = read.begin(); it != read.end(); ++it) {
            if (it.key().contains("_odm/"))
                continue;
            copyNames.insert(QFileInfo(it.key()).fileName());
            ++copies;
        }
        if (prefix)
            QCOMPARE(copyNames.size(), copies);
        const QStringList geo = QString::fromUtf8(fileBytes(
            target + QStringLiteral("/第%1架次_odm/geo.txt").arg(s + 1))).split('\n', Qt::SkipEmptyParts);
        QCOMPARE(geo.value(0), QStringLiteral("EPSG:4326"));
        QCOMPARE(geo.size() - 1, photos.size());
        QSet<QString> names;
        for (const QString &line : geo.mid(1)) {
            const QStringList cells = line.split(' ');
            QCOMPARE(cells.size(), 4);
            names.insert(cells[0]);
            const QJsonObject tags =
                read.value(QStringLiteral("第%1架次_odm/images/").arg(s + 1) + cells[0]);
            QVERIFY2(
                std::fabs(tags.value("GPSLongitude").toDouble() - cells[1].toDouble()) < 1e-6 &&
                    std::fabs(tags.value("GPSLatitude").toDouble() - cells[2].toDouble()) < 1e-6,
                qPrintable(line));
            QVERIFY2(!prefix || copyNames.contains(cells[0]), qPrintable(line));
        }
        QCOMPARE(names.size(), photos.size());
    }
}

// Evenly spaced photos of a part of the flight, 7 min 1 s off: `v7tool match` exits 3 and the
// offload copies nothing (exit 2, no target made); with the operator's offset both give each
// photo its own record and the set file keeps the offset for a resume.
void TestExposureMatch::ambiguousOffsetNeedsTheOperator()
{
    Plan plan;
    plan.lines = 1;
    plan.perLine = 60;
    plan.heldFrom = 20;
    plan.heldTo = 40;
    plan.offsets = {421};
    const Flight f = fly(plan, 5);
    QTemporaryDir dir;
    const QString card = dir.filePath(QStringLiteral("Center"));
    QVERIFY(writeCard(card, f.photos[0]));
    const QString table = dir.filePath(QStringLiteral("pos.xls"));
    QVERIFY(writeFile(table, posTable(f.sets[0])));
    const QStringList match{"match", "--json", "--center", card, "--pos", table};
    for (const QString &offset : {QString(), QStringLiteral("421")}) {
        const ToolRun run =
            runTool(V7TOOL, offset.isEmpty() ? match : match + QStringList{"--offset", offset});
        QCOMPARE(run.exitCode, offset.isEmpty() ? 3 : 1); // 1: records before and after the card
        const QJsonObject camera =
            QJsonDocument::fromJson(run.out).object().value("cameras").toArray().at(0).toObject();
        QCOMPARE(camera.value("method").toString(),
                 offset.isEmpty() ? QStringLiteral("ambiguous") : QStringLiteral("given-offset"));
        const QJsonArray pairs = camera.value("pairs").toArray();
        QCOMPARE(pairs.size(), offset.isEmpty() ? 0 : 20);
        for (int j = 0; j < pairs.size(); ++j)
            QCOMPARE(pairs.at(j).toObject().value("index").toInt(), 20 + j);
    }
    const QString target = dir.filePath(QStringLiteral("target"));
    const QString state = "V7_STATE_DIR=" + dir.filePath(QStringLiteral("state"));
    const QStringList offload{"offload", "--center", card, "--pos", table, "--target", target};
    const ToolRun refused = runTool(V7TOOL, offload, {state});
    QVERIFY2(refused.exitCode == 2, refused.err.constData());
    QVERIFY(!QFileInfo::exists(target));
    const ToolRun given = runTool(V7TOOL, offload + QStringList{"--offset", "421"}, {state});
    QVERIFY2(given.exitCode == 0, (given.out + given.err).constData());
    const QJsonObject set = jsonFile(dir.filePath(QStringLiteral("state/offloadset.json")));
    QCOMPARE(set.value("offsetSeconds").toDouble(), 421.0);
}

// A table of 100,000 records and a card of a few photos: `v7tool match` and the offload
// summarise the missed records as runs, the report stays small, the set file names the table
// by path and hash instead of copying it, and a resume refuses the table once it changed.
void TestExposureMatch::longTable()
{
    QTemporaryDir dir;
    const QString table = dir.filePath(QStringLiteral("week.xls"));
    const QByteArray text = ::longTable(100000);
    QVERIFY(writeFile(table, text));
    const QString card = dir.filePath(QStringLiteral("Center"));
    QVERIFY(makeCard(card, 8));
    const QStringList common{"--match", "index", "--center", card, "--pos", table};
    const ToolRun match = runTool(V7TOOL, QStringList{"match", "--json"} + common);
    QCOMPARE(match.exitCode, 1);
    const QJsonObject run{{"sortie", 1}, {"from", 8}, {"to", 99999}, {"count", 99992}};
    const QJsonObject camera = match.json().value("cameras").toArray().at(0).toObject();
    QCOMPARE(camera.value("missed").toArray(), QJsonArray{run});
    QCOMPARE(camera.value("missedCount").toInt(), 99992);

    const QString target = dir.filePath(QStringLiteral("target"));
    const QStringList state{"V7_STATE_DIR=" + dir.filePath(QStringLiteral("state"))};
    const QStringList offload = QStringList{"offload", "--target", target} + common;
    // Killed half-way, so that a resume has work left.
    runTool(V7TOOL, offload, state + QStringList{"V7_OFFLOAD_FAULT=0:4:written:kill"});
    const QString setPath = dir.filePath(QStringLiteral("state/offloadset.json"));
    QJsonObject set = jsonFile(setPath);
    QVERIFY2(fileBytes(setPath).size() < 64 * 1024, qPrintable(QString::number(fileBytes(setPath).size())));
    const QJsonObject named = set.value("posTables").toArray().at(0).toObject();
    QCOMPARE(named.value("path").toString(), table);
    QCOMPARE(named.value("records").toInt(), 100000);
    QCOMPARE(named.value("xxh64").toString().size(), 16);

    // The table changed under the offload: refused, nothing else said wrong.
    QVERIFY(writeFile(table, text + "\n"));
    const QStringList resume{"offload", "--resume"};
    const ToolRun changed = runTool(V7TOOL, resume, state + QStringList{"V7_OFFLOAD_FAULT"});
    QCOMPARE(changed.exitCode, 2);
    QVERIFY2(changed.err.contains("changed since the offload started"), changed.err.constData());
    // Put back, it resumes; a set file of before, holding no table names, resumes as well.
    QVERIFY(writeFile(table, text));
    set.remove("posTables");
    QVERIFY(writeFile(setPath, QJsonDocument(set).toJson()));
    const ToolRun resumed = runTool(V7TOOL, resume, state + QStringList{"V7_OFFLOAD_FAULT"});
    QVERIFY2(resumed.exitCode == 0, (resumed.out + resumed.err).constData());

    const qint64 html = QFileInfo(target + QStringLiteral("/offload-report.html")).size();
    const qint64 json = QFileInfo(target + QStringLiteral("/offload-report.json")).size();
    QVERIFY(html > 0 && html < 5 * 1024 * 1024);
    QVERIFY(json > 0 && json < 1024 * 1024);
    QVERIFY(QString::fromUtf8(fileBytes(target + QStringLiteral("/offload-report.html")))
                .contains(QStringLiteral("第9–100,000条记录")));
}

QTEST_GUILESS_MAIN(TestExposureMatch)
#include "tst_exposurematch.moc"
