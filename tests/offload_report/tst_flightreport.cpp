// The flight report and the photogrammetry exports of a two-sortie flight: the JSON keeps the
// match it was given, the HTML is one self-contained, well-formed file with a map per sortie
// whose markers are coloured by coverage, the exports name the copies below the target with
// their record's position and, for the centre lens only, its attitude.
#include <QtTest>

#include <QJsonArray>
#include <QJsonDocument>
#include <QXmlStreamReader>

#include "exposurephotos.h"
#include "flightreport.h"
#include "offloadreport.h"
#include "photoexports.h"
#include "testtools.h"

namespace {

// Two sorties east of Guangzhou: four records 60 m apart heading east, then three heading north.
QList<OffloadPosSet> flight()
{
    QList<OffloadPosSet> sets(2);
    const uint start = 1700000000;
    for (int i = 0; i < 4; ++i) {
        sets[0].times << start + uint(i) * 2;
        sets[0].positions << OffloadPosPoint{113.25 + i * 0.0006, 23.5, 150.5 + i};
        sets[0].attitudes << OffloadPosAttitude{90.25 + i, 1.5, -0.75};
    }
    for (int i = 0; i < 3; ++i) {
        sets[1].times << start + 3600 + uint(i) * 2;
        sets[1].positions << OffloadPosPoint{113.26, 23.51 + i * 0.0005, 200.125};
        sets[1].attitudes << OffloadPosAttitude{-2.5 - i, 0.5, 3.0};
    }
    sets[0].filePath = QStringLiteral("/pos/第一架次.xls");
    sets[1].filePath = QStringLiteral("/pos/a&b <2> %2.xls");
    return sets;
}

// Center has every record; Front missed record 2 of sortie 1 and has a test shot; Right
// took records 0 and 2 of sortie 2 only, in two folders under one name.
const char *const MatchJson = R"({"cameras":[
 {"camera":"Center","photos":7,"matched":7,"method":"time","offsetSeconds":-28799.6,
  "offsetSpread":0.3,"missed":[],"extra":[],"pairs":[
  {"photo":"DSC00001.JPG","sortie":1,"index":0},{"photo":"DSC00002.JPG","sortie":1,"index":1},
  {"photo":"DSC00003.JPG","sortie":1,"index":2},{"photo":"DSC00004.JPG","sortie":1,"index":3},
  {"photo":"100MEDIA/DSC00005.JPG","sortie":2,"index":0},
  {"photo":"DSC00006.JPG","sortie":2,"index":1},{"photo":"DSC00007.JPG","sortie":2,"index":2}]},
 {"camera":"Front","photos":7,"matched":6,"method":"time","offsetSeconds":3.7,"offsetSpread":0.4,
  "missed":[{"sortie":1,"from":2,"to":2,"count":1}],"extra":["TEST0001.JPG"],"pairs":[
  {"photo":"DSC00002.JPG","sortie":1,"index":0},{"photo":"DSC00003.JPG","sortie":1,"index":1},
  {"photo":"DSC00004.JPG","sortie":1,"index":3},{"photo":"DSC00005.JPG","sortie":2,"index":0},
  {"photo":"DSC00006.JPG","sortie":2,"index":1},{"photo":"DSC00007.JPG","sortie":2,"index":2}]},
 {"camera":"Right","photos":2,"matched":2,"method":"index","offsetSeconds":0,"offsetSpread":0,
  "missed":[{"sortie":1,"from":0,"to":3,"count":4},{"sortie":2,"from":1,"to":1,"count":1}],
  "extra":[],"pairs":[
  {"photo":"DCIM/R0.JPG","sortie":2,"index":2},{"photo":"R0.JPG","sortie":2,"index":0}]}],
 "sorties":[{"number":1,"file":"/pos/第一架次.xls","records":4,"start":"2023-11-15 06:13:20",
             "end":"2023-11-15 06:13:26"},
            {"number":2,"file":"/pos/a&b <2> %2.xls","records":3,"start":"2023-11-15 07:13:20",
             "end":"2023-11-15 07:13:24"}]})";

QJsonObject match()
{
    return QJsonDocument::fromJson(MatchJson).object();
}

FlightReport report(const QJsonObject &m, const QList<OffloadPosSet> &sets = flight())
{
    FlightReport r(m, sets);
    r.setCounts(QStringLiteral("Center"), {7, 7, 7, 0, {}, {}});
    r.setCounts(QStringLiteral("Front"), {8, 8, 0, 0, {}, {}});
    r.setCounts(QStringLiteral("Back"),
                {5, 4, 4, 1, {QStringLiteral("DSC00005.JPG: <read error>")}, {}});
    r.setTarget(QStringLiteral("/data/飞行 1"));
    return r;
}

} // namespace

class TestFlightReport : public QObject
{
    Q_OBJECT
private slots:
    void jsonKeepsMatch_data();
    void jsonKeepsMatch();
    void htmlStandsAlone_data();
    void htmlStandsAlone();
    void missedRuns_data();
    void missedRuns();
    void longSortieMapThinned();
    void exports_data();
    void exports();
};

void TestFlightReport::jsonKeepsMatch_data()
{
    QTest::addColumn<QString>("camera");
    QTest::addColumn<bool>("inMatch");
    QTest::addColumn<int>("onCard");
    QTest::addColumn<int>("verified");
    QTest::addColumn<QStringList>("failures");
    QTest::newRow("matched with counts") << "Center" << true << 7 << 7 << QStringList();
    QTest::newRow("copied unverified") << "Front" << true << 8 << 0 << QStringList();
    QTest::newRow("matched, no counts") << "Right" << true << -1 << -1 << QStringList();
    QTest::newRow("copied, not matched")
        << "Back" << false << 5 << 4 << QStringList{"DSC00005.JPG: <read error>"};
}

void TestFlightReport::jsonKeepsMatch()
{
    QFETCH(QString, camera);
    QFETCH(bool, inMatch);
    QFETCH(int, onCard);
    QFETCH(int, verified);
    QFETCH(QStringList, failures);
    const QJsonObject input = match();
    QTemporaryDir dir;
    QString error;
    QVERIFY2(report(input).write(dir.path(), &error), qPrintable(error));
    QJsonParseError parse;
    const QJsonObject out =
        QJsonDocument::fromJson(fileBytes(dir.filePath(FlightReport::jsonFileName())), &parse)
            .object();
    QCOMPARE(parse.error, QJsonParseError::NoError);
    QCOMPARE(out.value("sorties"), input.value("sorties"));
    QCOMPARE(out.value("target").toString(), QStringLiteral("/data/飞行 1"));

    const auto cameraIn = [&camera](const QJsonObject &report) {
        for (const QJsonValue &v : report.value("cameras").toArray()) {
            if (v.toObject().value("camera").toString() == camera)
                return v.toObject();
        }
        return QJsonObject();
    };
    const QJsonObject given = cameraIn(input), written = cameraIn(out);
    QCOMPARE(given.isEmpty(), !inMatch);
    QVERIFY(!written.isEmpty());
    for (auto it = given.begin(); it != given.end(); ++it)
        QCOMPARE(written.value(it.key()), it.value());
    QCOMPARE(written.contains("onCard"), onCard >= 0);
    if (onCard >= 0) {
        QCOMPARE(written.value("onCard").toInt(), onCard);
        QCOMPARE(written.value("verified").toInt(), verified);
        QCOMPARE(written.value("failed").toInt(), int(failures.size()));
        QCOMPARE(written.value("failures").toVariant().toStringList(), failures);
    }
}

void TestFlightReport::htmlStandsAlone_data()
{
    QTest::addColumn<bool>("withPos");
    QTest::addColumn<int>("maps");
    QTest::addColumn<QList<int>>("markers"); // by colour: all cameras, all but one, fewer, none
    QTest::addColumn<int>("rings");
    QTest::addColumn<QStringList>("texts");
    // Rings: sortie 1 records 0..3 (Right missed all, Front also 2) and sortie 2 record 1.
    const QStringList texts{
        "前视相机", "TEST0001.JPG", "第1架次 第3条记录",         "a&b <2> %2.xls", "/data/飞行 1",
        "N",        "米",           "DSC00005.JPG: <read error>"};
    QTest::newRow("two sorties") << true << 2 << QList<int>{2, 4, 1, 0} << 5 << texts;
    QTest::newRow("no POS") << false << 0 << QList<int>{0, 0, 0, 0} << 0
                            << QStringList{"未添加POS文件", "后视相机"};
}

void TestFlightReport::htmlStandsAlone()
{
    QFETCH(bool, withPos);
    QFETCH(int, maps);
    QFETCH(QList<int>, markers);
    QFETCH(int, rings);
    QFETCH(QStringList, texts);
    const QJsonObject none{{"cameras", QJsonArray()}, {"sorties", QJsonArray()}};
    const QString html = withPos ? report(match()).html() : report(none, {}).html();

    // Field laptops are offline: nothing may point outside the file.
    for (const char *outside :
         {"http:", "https:", "src=", "url(", "@import", "<link", "<script", "file:"})
        QVERIFY2(!html.contains(QLatin1String(outside), Qt::CaseInsensitive), outside);

    QXmlStreamReader xml(html);
    // Start elements by name, a circle by its fill instead, "ring" for one without.
    QHash<QString, int> elements;
    QString text;
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isStartElement()) {
            const QString fill = xml.attributes().value("fill").toString();
            const bool circle = xml.name() == QLatin1String("circle");
            ++elements[!circle ? xml.name().toString() : fill == "none" ? "ring" : fill];
        }
        if (xml.isCharacters())
            text += xml.text();
    }
    QVERIFY2(!xml.hasError(),
             qPrintable(xml.errorString() + " at line " + QString::number(xml.lineNumber())));
    QCOMPARE(elements.value("svg"), maps);
    QCOMPARE(elements.value("polyline"), maps);
    const QStringList coverage{"#1a9850", "#f39c12", "#d73027", "#5e3c99"}; // the legend's
    for (int k = 0; k < coverage.size(); ++k)
        QCOMPARE(elements.value(coverage.at(k)), markers.at(k));
    QCOMPARE(elements.value("ring"), rings);
    for (const QString &expected : texts)
        QVERIFY2(text.contains(expected), qPrintable(expected));
}

void TestFlightReport::missedRuns_data()
{
    QTest::addColumn<QList<int>>("setStarts"); // the match's, the total last
    QTest::addColumn<QList<int>>("missed");    // records through the sets, ascending
    QTest::addColumn<int>("limit");
    QTest::addColumn<QString>("text");
    QList<int> long1;
    for (int r = 0; r < 3000; ++r) {
        if (r < 400 || r >= 700)
            long1 << r;
    }
    QTest::newRow("one record") << QList<int>{0, 10} << QList<int>{5} << 200
                                << "第1架次 第6条记录（1条）";
    QTest::newRow("runs, thousands grouped")
        << QList<int>{0, 5000} << long1 << 200 << "第1架次 第1–400、701–3,000条记录（2,700条）";
    QTest::newRow("a run split where the sortie ends")
        << QList<int>{0, 3, 7} << QList<int>{1, 2, 3, 4} << 200
        << "第1架次 第2–3条记录（2条）；第2架次 第1–2条记录（2条）";
    QTest::newRow("runs past the limit counted")
        << QList<int>{0, 10} << QList<int>{0, 2, 4, 6} << 2
        << "第1架次 第1、3条记录（4条）；……另有2段未列出，见 offload-report.json";
}

// Missed records become runs per sortie in the JSON, and the report writes those runs as the
// operator reads record numbers.
void TestFlightReport::missedRuns()
{
    QFETCH(QList<int>, setStarts);
    QFETCH(QList<int>, missed);
    QFETCH(int, limit);
    QFETCH(QString, text);
    ExposureMatch m;
    m.setStarts.assign(setStarts.begin(), setStarts.end());
    m.cameras[0].takesPart = true;
    m.cameras[0].missed.assign(missed.begin(), missed.end());
    const QJsonObject camera =
        ExposurePhotos::json(m, {}).value("cameras").toArray().at(0).toObject();
    QCOMPARE(camera.value("missedCount").toInt(), int(missed.size()));
    const MatchView view = MatchView::read(QJsonObject{{"cameras", QJsonArray{camera}}});
    QCOMPARE(view.cameras.at(0).missedCount, int(missed.size()));
    QCOMPARE(FlightReport::runsText(view.cameras.at(0).missed, limit), text);
}

// A sortie of 20,000 records in a block of lines: the map draws a few thousand markers, yet
// every record one camera missed while another has it keeps its marker and ring; the records
// after the cards (no camera has them) are thinned with the rest.
void TestFlightReport::longSortieMapThinned()
{
    OffloadPosSet set;
    for (int i = 0; i < 20000; ++i) {
        set.times << 1700000000u + uint(i) * 2;
        set.positions << OffloadPosPoint{113.0 + (i % 100) * 2e-4, 23.0 + (i / 100) * 1e-4, 300};
    }
    const QList<int> problems{5, 777, 12345};
    QJsonArray front, center;
    for (int i = 0; i < 15000; ++i) {
        const QJsonObject pair{{"photo", QStringLiteral("P%1.JPG").arg(i)}, {"sortie", 1}, {"index", i}};
        front.append(pair);
        if (!problems.contains(i))
            center.append(pair);
    }
    QJsonArray centerMissed;
    for (int i : problems)
        centerMissed.append(QJsonObject{{"sortie", 1}, {"from", i}, {"to", i}});
    centerMissed.append(QJsonObject{{"sortie", 1}, {"from", 15000}, {"to", 19999}});
    const QJsonObject m{
        {"cameras", QJsonArray{QJsonObject{{"camera", "Front"}, {"pairs", front},
                                           {"missed", QJsonArray{QJsonObject{{"sortie", 1}, {"from", 15000}, {"to", 19999}}}}},
                               QJsonObject{{"camera", "Center"}, {"pairs", center},
                                           {"missed", centerMissed}}}},
        {"sorties", QJsonArray{QJsonObject{{"number", 1}, {"records", 20000}}}}};
    // Two exposures whose front photo is dark: kept and ringed wherever they lie.
    const QList<int> dark{3333, 4444};
    std::vector<LookedPhoto> looked;
    for (int i : dark) {
        LookedPhoto p;
        p.camera = 3;
        p.index = p.exposure = i;
        p.measure.decoded = true;
        looked.push_back(p);
    }
    FlightReport report(m, {set});
    report.setQuality(QualityFindings::judge(looked));
    const QString html = report.html();
    QXmlStreamReader xml(html);
    int circles = 0;
    QStringList rings, flagRings, tips;
    while (!xml.atEnd()) {
        xml.readNext();
        if (!xml.isStartElement() || xml.name() != QLatin1String("circle"))
            continue;
        const QString at = xml.attributes().value("cx").toString() + ',' +
                           xml.attributes().value("cy").toString();
        if (xml.attributes().value("fill") == QLatin1String("none")) {
            if (xml.attributes().value("stroke") == QLatin1String("#222222"))
                rings << at;
            else if (xml.readNextStartElement() && xml.readElementText() == QStringLiteral("偏暗"))
                flagRings << at;
            continue;
        }
        ++circles;
        xml.readNextStartElement(); // its title
        tips << at + ' ' + xml.readElementText();
    }
    QVERIFY(!xml.hasError());
    QVERIFY2(circles > 500 && circles < 6000, qPrintable(QString::number(circles)));
    QCOMPARE(rings.size(), problems.size());
    QCOMPARE(flagRings.size(), dark.size());
    for (int i : problems + dark) {
        const QStringList tip = tips.filter(QStringLiteral(" 第%1条 ").arg(i + 1));
        QCOMPARE(tip.size(), 1);
        const bool missed = problems.contains(i);
        QVERIFY2(!missed || tip.at(0).contains(QStringLiteral("漏拍：下视相机")),
                 qPrintable(tip.at(0)));
        QVERIFY((missed ? rings : flagRings).contains(tip.at(0).section(' ', 0, 0)));
    }
}

void TestFlightReport::exports_data()
{
    QTest::addColumn<int>("sortie");
    QTest::addColumn<bool>("sortieFolders");
    QTest::addColumn<bool>("cameraPrefix"); // the copies carry "<Camera>_" already
    QTest::addColumn<QStringList>("images"); // in file order, below the target
    QTest::addColumn<QStringList>("names");  // their file names for the programs
    QTest::addColumn<QList<int>>("records"); // record index of each photo
    const QStringList sortie1{"DSC00001.JPG", "DSC00002.JPG", "DSC00003.JPG", "DSC00004.JPG",
                              "DSC00002.JPG", "DSC00003.JPG", "DSC00004.JPG"};
    QStringList folders, prefixed, names;
    for (int i = 0; i < sortie1.size(); ++i) {
        const QString camera = i < 4 ? "Center" : "Front";
        folders << camera + "/第1架次/" + sortie1.at(i);
        prefixed << camera + "/第1架次/" + camera + "_" + sortie1.at(i);
        names << camera + "_" + sortie1.at(i);
    }
    QTest::newRow("sortie 1 in folders")
        << 1 << true << false << folders << names << QList<int>{0, 1, 2, 3, 0, 1, 3};
    QTest::newRow("sortie 1, copies named with their camera")
        << 1 << true << true << prefixed << names << QList<int>{0, 1, 2, 3, 0, 1, 3};
    QTest::newRow("sortie 2, camera folders only, one name in two folders")
        << 2 << false << false
        << QStringList{"Center/100MEDIA/DSC00005.JPG", "Center/DSC00006.JPG", "Center/DSC00007.JPG",
                       "Front/DSC00005.JPG", "Front/DSC00006.JPG", "Front/DSC00007.JPG",
                       "Right/R0.JPG", "Right/DCIM/R0.JPG"}
        << QStringList{"Center_DSC00005.JPG", "Center_DSC00006.JPG", "Center_DSC00007.JPG",
                       "Front_DSC00005.JPG", "Front_DSC00006.JPG", "Front_DSC00007.JPG",
                       "Right_R0.JPG", "Right_R0~2.JPG"}
        << QList<int>{0, 1, 2, 0, 1, 2, 0, 2};
}

void TestFlightReport::exports()
{
    QFETCH(int, sortie);
    QFETCH(bool, sortieFolders);
    QFETCH(bool, cameraPrefix);
    QFETCH(QStringList, images);
    QFETCH(QStringList, names);
    QFETCH(QList<int>, records);
    const QList<OffloadPosSet> pos = flight();
    const OffloadPosSet &set = pos.at(sortie - 1);
    QTemporaryDir dir;
    for (const QString &image : images) {
        QVERIFY(QDir(dir.path()).mkpath(QFileInfo(image).path()));
        QVERIFY(writeFile(dir.filePath(image), image.toUtf8()));
    }
    MatchView view = MatchView::read(match());
    for (MatchView::Camera &c : view.cameras) {
        for (MatchView::Pair &p : c.pairs) {
            if (cameraPrefix)
                p.photo = c.name + "_" + p.photo; // no folders in sortie 1
        }
    }
    QStringList messages;
    QCOMPARE(PhotoExports::write(dir.path(), view, pos, sortieFolders, cameraPrefix, &messages),
             6);
    QVERIFY2(messages.isEmpty(), qPrintable(messages.join('\n')));
    auto read = [&](const QString &name) {
        return QString::fromUtf8(fileBytes(dir.filePath(name)));
    };

    // Metashape's labels are the names without suffix; OpenDroneMap's lines name the photos of
    // the project's images/, each the very copy (a hard link), at its record's position.
    const QStringList reference = read(PhotoExports::metashapeFileName(sortie))
                                      .split('\n', Qt::SkipEmptyParts)
                                      .filter(QRegularExpression(QStringLiteral("^[^#]")));
    const QString geoText = read(PhotoExports::odmFileName(sortie));
    const QString project = PhotoExports::odmProjectName(sortie);
    QCOMPARE(read(project + "/geo.txt"), geoText);
    const QStringList geo = geoText.split('\n', Qt::SkipEmptyParts);
    QCOMPARE(reference.size(), names.size());
    QCOMPARE(geo.value(0), QStringLiteral("EPSG:4326"));
    QCOMPARE(geo.size(), names.size() + 1);
    QCOMPARE(QDir(dir.filePath(project + "/images")).entryList(QDir::Files).size(), names.size());
    for (int row = 0; row < names.size(); ++row) {
        const QStringList cells = reference.at(row).split(',');
        const QStringList odm = geo.at(row + 1).split(' ');
        QCOMPARE(cells.size(), 7);
        QCOMPARE(odm.size(), 4);
        QCOMPARE(cells.at(0), QFileInfo(names.at(row)).completeBaseName());
        QCOMPARE(odm.at(0), names.at(row));
        QCOMPARE(fileBytes(dir.filePath(project + "/images/" + names.at(row))),
                 images.at(row).toUtf8());
        const OffloadPosPoint &p = set.positions.at(records.at(row));
        for (const QStringList &line : {cells.mid(0, 4), odm}) {
            QCOMPARE(line.at(1).toDouble(), p.x);
            QCOMPARE(line.at(2).toDouble(), p.y);
            QCOMPARE(line.at(3).toDouble(), p.z);
        }
        const OffloadPosAttitude &a = set.attitudes.at(records.at(row));
        if (!images.at(row).startsWith("Center/")) {
            QCOMPARE(cells.mid(4), QStringList(3, QString()));
            continue;
        }
        QCOMPARE(cells.at(4).toDouble(), a.heading);
        QCOMPARE(cells.at(5).toDouble(), a.pitch);
        QCOMPARE(cells.at(6).toDouble(), a.roll);
    }
}

QTEST_GUILESS_MAIN(TestFlightReport)
#include "tst_flightreport.moc"
