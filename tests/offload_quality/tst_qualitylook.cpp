#include <QtTest>

#include <QBuffer>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QPainter>

#include <cmath>

#include "offloadfixture.h"
#include "offloadrun.h"
#include "photolook.h"
#include "qualitylook.h"
#include "qualitythresholds.h"

using namespace OffloadFixture;

namespace {

// A sample photo, at most 640 pixels wide so that blurring it stays quick.
QImage sample(const QString &path)
{
    QImage image(path);
    if (image.width() > 640)
        image = image.scaledToWidth(640, Qt::SmoothTransformation);
    return image.convertToFormat(QImage::Format_RGB32);
}

// Each channel through f.
template <typename F> QImage mapped(const QImage &in, F f)
{
    QImage out = in;
    for (int y = 0; y < out.height(); ++y) {
        auto *row = reinterpret_cast<QRgb *>(out.scanLine(y));
        for (int x = 0; x < out.width(); ++x)
            row[x] = qRgb(f(qRed(row[x])), f(qGreen(row[x])), f(qBlue(row[x])));
    }
    return out;
}

QImage darkened(const QImage &in, double factor)
{
    return mapped(in, [factor](int v) { return int(v * factor); });
}

QImage brightened(const QImage &in, double factor)
{
    return mapped(in, [factor](int v) { return 255 - int((255 - v) * factor); });
}

// A Gaussian blur of sigma pixels, in two passes, the edges held.
QImage blurred(const QImage &in, double sigma)
{
    const int radius = int(std::ceil(3 * sigma));
    std::vector<double> kernel(size_t(2 * radius + 1));
    double total = 0;
    for (int k = -radius; k <= radius; ++k)
        total += kernel[size_t(k + radius)] = std::exp(-k * k / (2 * sigma * sigma));
    QImage image = in;
    for (int pass = 0; pass < 2; ++pass) {
        const QImage from = image;
        for (int y = 0; y < image.height(); ++y) {
            auto *row = reinterpret_cast<QRgb *>(image.scanLine(y));
            for (int x = 0; x < image.width(); ++x) {
                double c[3] = {};
                for (int k = -radius; k <= radius; ++k) {
                    const QRgb p = pass == 0 ? reinterpret_cast<const QRgb *>(from.constScanLine(
                                                   y))[std::clamp(x + k, 0, image.width() - 1)]
                                             : reinterpret_cast<const QRgb *>(from.constScanLine(
                                                   std::clamp(y + k, 0, image.height() - 1)))[x];
                    const double w = kernel[size_t(k + radius)] / total;
                    c[0] += w * qRed(p), c[1] += w * qGreen(p), c[2] += w * qBlue(p);
                }
                row[x] = qRgb(int(c[0] + 0.5), int(c[1] + 0.5), int(c[2] + 0.5));
            }
        }
    }
    return image;
}

// Sigma given in pixels of the photo as the look decodes it.
QImage blurredAsLooked(const QImage &in, double sigma)
{
    return blurred(in, sigma * PhotoLook::scaleDenominator(in.width(), in.height(),
                                                           QualityThresholds::MinLongSide));
}

QByteArray jpeg(const QImage &image, int quality = 90)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPG", quality);
    return bytes;
}

QStringList flagKeys(int flags)
{
    QStringList keys;
    for (int rank = 0; rank < QualityFindings::FlagCount; ++rank) {
        if (flags & QualityFindings::flagAt(rank))
            keys << QualityFindings::flagKey(QualityFindings::flagAt(rank));
    }
    return keys;
}

// One camera's frames judged in order (exposure -1: no other lens); the flags of each.
QList<int> judgeFrames(const QList<QByteArray> &frames)
{
    std::vector<LookedPhoto> photos;
    for (int i = 0; i < frames.size(); ++i) // camera, index, exposure, path, measure
        photos.push_back({1, i, -1, QString::number(i), PhotoLook::measureData(frames.at(i))});
    const QualityFindings findings = QualityFindings::judge(photos);
    QList<int> flags(frames.size(), 0);
    for (const QualityFindings::Photo &p : findings.flagged())
        flags[p.index] = p.flags;
    return flags;
}

// The frame number stamped in a corner, as some cameras and the demo's cards do.
QImage stamped(const QImage &in, int frame)
{
    QImage out = in;
    QPainter painter(&out);
    QFont font = painter.font();
    font.setPixelSize(out.height() / 8);
    painter.setFont(font);
    painter.setPen(Qt::white);
    painter.drawText(out.rect().adjusted(0, 0, -out.width() / 20, -out.height() / 20),
                     Qt::AlignRight | Qt::AlignBottom, QStringLiteral("Front %1").arg(frame));
    return out;
}

using Variant = QImage (*)(const QImage &);

} // namespace

class TestQualityLook : public QObject
{
    Q_OBJECT
private slots:
    void frames_data();
    void frames();
    void otherLenses_data();
    void otherLenses();
    void offloadReportAndCheckAgree();
};

// A camera's frames judged in order, each frame's flags by their keys. Each photo alone: what
// was done to it is flagged, and nothing on the photo as it was. A frame near-identical to the
// one before is repeated; a uniform field, a new frame number on the same scene and the next
// frame along the line are not.
void TestQualityLook::frames_data()
{
    QTest::addColumn<QList<QByteArray>>("frames");
    QTest::addColumn<QStringList>("flags");
    const struct
    {
        const char *name;
        Variant make;
        const char *flags;
    } variants[] = {
        {"original", [](const QImage &i) { return i; }, ""},
        {"darkened", [](const QImage &i) { return darkened(i, 0.2); }, "dark"},
        {"brightened", [](const QImage &i) { return brightened(i, 0.1); }, "bright"},
        {"blurred 2", [](const QImage &i) { return blurredAsLooked(i, 2); }, "blurred"},
        {"blurred 4", [](const QImage &i) { return blurredAsLooked(i, 4); }, "blurred"},
        {"blurred 8", [](const QImage &i) { return blurredAsLooked(i, 8); }, "blurred"},
    };
    QList<QByteArray> all;
    for (const QString &path : samplePhotos()) {
        const QImage image = sample(path);
        all << jpeg(image);
        for (const auto &v : variants)
            QTest::addRow("%s %s", qPrintable(QFileInfo(path).baseName()), v.name)
                << QList<QByteArray>{jpeg(v.make(image))} << QStringList{v.flags};
    }
    // A lens cap: dark, and a uniform field is not called blurred, nor repeated.
    QImage black(400, 300, QImage::Format_RGB32);
    black.fill(Qt::black);
    QTest::addRow("lens cap on") << QList<QByteArray>{jpeg(black), jpeg(black)}
                                 << QStringList{"dark", "dark"};
    // A photo the card gave only half of, and one that is no JPEG at all.
    const QByteArray a = all.at(3), b = all.at(8), c = all.at(14);
    QTest::addRow("cut in half") << QList<QByteArray>{c.left(c.size() / 2)}
                                 << QStringList{"damaged"};
    QTest::addRow("no photo") << QList<QByteArray>{QByteArray("GIF89a", 6) + c.mid(6)}
                              << QStringList{"damaged"};
    QTest::addRow("every sample in turn") << all << QStringList(all.size(), QString());
    QTest::addRow("frozen sensor")
        << QList<QByteArray>{a, b, b, b, c} << QStringList{"", "", "repeated", "repeated", ""};
    const QImage scene = sample(samplePhotos().at(14));
    QTest::addRow("saved again") << QList<QByteArray>{jpeg(scene, 92), jpeg(scene, 70)}
                                 << QStringList{"", "repeated"};
    QTest::addRow("new frame number")
        << QList<QByteArray>{jpeg(stamped(scene, 12)), jpeg(stamped(scene, 13))}
        << QStringList{"", ""};
    const int w = scene.width() * 4 / 5;
    QTest::addRow("next frame along the line")
        << QList<QByteArray>{jpeg(scene.copy(0, 0, w, scene.height())),
                             jpeg(scene.copy(scene.width() - w, 0, w, scene.height()))}
        << QStringList{"", ""};
}

void TestQualityLook::frames()
{
    QFETCH(QList<QByteArray>, frames);
    QStringList keys;
    for (int flags : judgeFrames(frames))
        keys << flagKeys(flags).join(' ');
    QTEST(keys, "flags");
}

// Five lenses over the same exposures (each sample one exposure, seen alike by all five): a lens
// much darker or blurrier than the others is flagged on every exposure, also where its photos
// pass the thresholds alone, and the others are not.
void TestQualityLook::otherLenses_data()
{
    QTest::addColumn<int>("altered");
    QTest::addColumn<int>("kind");
    QTest::addColumn<double>("amount");
    QTest::addRow("left blurred") << 1
                                  << int(QualityFindings::Blurred |
                                         QualityFindings::BlurrierThanOthers)
                                  << 0.8;
    QTest::addRow("front darkened")
        << 3 << int(QualityFindings::Dark | QualityFindings::DarkerThanOthers) << 0.4;
}

void TestQualityLook::otherLenses()
{
    QFETCH(int, altered);
    QFETCH(int, kind);
    QFETCH(double, amount);
    std::vector<LookedPhoto> photos;
    const QStringList samples = samplePhotos();
    for (int exposure = 0; exposure < samples.size(); ++exposure) {
        const QImage image = sample(samples.at(exposure));
        for (int camera = 0; camera < Cameras::Count; ++camera) {
            QImage seen = image;
            if (camera == altered)
                seen = kind & QualityFindings::Blurred ? blurredAsLooked(image, amount)
                                                       : darkened(image, amount);
            photos.push_back(
                {camera, exposure, exposure, QString(), PhotoLook::measureData(jpeg(seen))});
        }
    }
    const QualityFindings findings = QualityFindings::judge(photos);
    int relativeOnly = 0;
    for (const QualityFindings::Photo &p : findings.flagged()) {
        QVERIFY2(p.camera == altered && (p.flags & kind) && !(p.flags & ~kind),
                 qPrintable(QStringLiteral("camera %1 exposure %2: %3")
                                .arg(p.camera)
                                .arg(p.exposure)
                                .arg(flagKeys(p.flags).join(' '))));
        relativeOnly += (p.flags & (QualityFindings::Dark | QualityFindings::Blurred)) == 0;
    }
    QCOMPARE(findings.camera(altered).flagged, int(samples.size()));
    QVERIFY(relativeOnly > 0);
}

// One card's photos blurred: the report's JSON and summary and `v7tool check` on the target
// name the same camera and the same photos.
void TestQualityLook::offloadReportAndCheckAgree()
{
    QTemporaryDir work;
    const int photos = 8;
    const int blurredCamera = 1; // left
    OffloadSession::Setup setup;
    for (int camera = 0; camera < Cameras::Count; ++camera) {
        setup.sources[camera] = work.filePath(QStringLiteral("cards/") + cameraName(camera));
        QVERIFY(makeCard(setup.sources[camera], photos));
    }
    QDir left(setup.sources[blurredCamera]);
    for (const QString &name : left.entryList({QStringLiteral("*.JPG")}, QDir::Files)) {
        const QString path = left.filePath(name);
        QVERIFY(writeFile(path, jpeg(blurredAsLooked(sample(path), 3))));
    }
    setup.target = work.filePath(QStringLiteral("target"));
    OffloadRun run;
    run.setStateFolder(work.filePath(QStringLiteral("state")));
    QString error;
    QVERIFY2(run.startNow(setup, &error), qPrintable(error));
    QVERIFY(waitFor([&] { return !run.session().running(); }));
    QVERIFY(run.session().complete());
    QStringList messages;
    run.finishNow(&messages);
    QVERIFY2(run.outputsWritten(), qPrintable(messages.join('\n')));

    const QJsonObject quality =
        QJsonDocument::fromJson(fileBytes(setup.target + "/offload-report.json"))["quality"]
            .toObject();
    QCOMPARE(quality["looked"].toInt(), photos * Cameras::Count);
    QCOMPARE(quality["photos"].toArray().size(), photos);
    for (const QJsonValue &p : quality["photos"].toArray()) {
        QCOMPARE(p["camera"].toString(), cameraName(blurredCamera));
        QCOMPARE(p["flags"].toArray(), QJsonArray{QStringLiteral("blurred")});
        QVERIFY(!p["photo"].toString().isEmpty());
    }

    const QStringList summary = run.qualitySummary();
    QCOMPARE(summary.mid(1), QStringList{QStringLiteral("左视相机 %1 张模糊").arg(photos)});
    QVERIFY(run.reportSummary().contains(summary.join('\n')));
    const QString html =
        QString::fromUtf8(fileBytes(setup.target + QStringLiteral("/offload-report.html")));
    QVERIFY(html.contains(QStringLiteral("<h2>影像质量</h2>")));
    QVERIFY(html.contains(QStringLiteral("data:image/jpeg;base64,")));

    QByteArray out;
    QCOMPARE(
        runIn(work.path(), QStringLiteral(V7TOOL), {QStringLiteral("check"), setup.target}, &out),
        1);
    QStringList lines = QString::fromUtf8(out).split('\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.mid(0, summary.size()), summary);
    QCOMPARE(lines.size(), summary.size() + photos);
    QCOMPARE(runIn(work.path(), QStringLiteral(V7TOOL),
                   {QStringLiteral("check"), QStringLiteral("--json"), setup.target}, &out),
             1);
    QCOMPARE(QJsonDocument::fromJson(out)["photos"], quality["photos"]);
}

QTEST_MAIN(TestQualityLook)
#include "tst_qualitylook.moc"
