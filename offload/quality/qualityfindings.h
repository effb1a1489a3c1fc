#pragma once

#include <QByteArray>
#include <QHash>
#include <QJsonObject>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

#include <vector>

#include "cameras.h"
#include "photolook.h"

// One photo as the look saw it: whose it is, which exposure it belongs to (the same number for
// the five lenses' photos of one exposure, -1 for none) and where its copy lies.
struct LookedPhoto
{
    int camera = -1;
    int index = -1; // in its camera's order of photos
    int exposure = -1;
    QString path; // below the folder the findings are told for
    PhotoMeasure measure;
};

// The flags of the photos of an offload, judged each on its own, against the frame before and
// against the other lenses of the same exposure, with each camera's counts.
class QualityFindings
{
public:
    enum Flag {
        Damaged = 1, // cannot be decoded
        Dark = 2,
        Bright = 4,
        Blurred = 8,
        Repeated = 16, // near-identical to the camera's frame before
        DarkerThanOthers = 32,
        BlurrierThanOthers = 64,
    };
    static constexpr int FlagCount = 7;
    // The flags from the worst down: the map colours an exposure by its first.
    static int flagAt(int rank) { return 1 << rank; }
    static QString flagKey(int flag);  // "dark", ... as the JSON names them
    static QString flagText(int flag); // "偏暗", ... as the operator reads them

    struct Photo
    {
        int camera = -1;
        int index = -1;
        int exposure = -1;
        QString path;
        int flags = 0;
        float mean = 0;
        float darkShare = 0;
        float brightShare = 0;
        float sharpness = -1;
        // Of the other lenses of the exposure: the median mean and sharpness (-1: not compared).
        float othersMean = -1;
        float othersSharpness = -1;
        quint64 hash = 0;
        QString repeats; // the path of the frame it repeats
        QString error;
        QByteArray thumbnail; // JPEG, set for the worst examples only
    };
    struct Camera
    {
        int looked = 0;
        int counts[FlagCount] = {};
        int flagged = 0; // photos with any flag
    };

    // photos of every camera, in any order; a photo given twice counts once (its last).
    static QualityFindings judge(std::vector<LookedPhoto> photos);

    bool empty() const { return m_looked == 0; }
    int looked() const { return m_looked; }
    int flaggedCount() const { return int(m_flagged.size()); }
    const Camera &camera(int camera) const { return m_cameras[camera]; }
    // Every flagged photo, camera after camera in photo order.
    const QList<Photo> &flagged() const { return m_flagged; }
    // The worst few of each flag, first the worst, indexes into flagged().
    QList<int> examples(int flag, int most) const;
    void setThumbnail(int flagged, const QByteArray &jpeg) { m_flagged[flagged].thumbnail = jpeg; }
    // The worst flag of each exposure with a flagged photo, by its exposure number.
    QHash<int, int> worstByExposure() const;

    // "quality" of offload-report.json: thresholds, each camera's counts, every flagged photo.
    QJsonObject json() const;
    // For the offload page and the report's summary: a heading, then a line per camera with
    // flagged photos ("左视相机 23 张偏暗，5 张模糊").
    QStringList summaryLines() const;
    // The thresholds as the report lists them: name and value, one line each.
    static QList<QPair<QString, QString>> thresholdTexts();

private:
    int m_looked = 0;
    Camera m_cameras[Cameras::Count];
    QList<Photo> m_flagged;
};
