#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <vector>

#include "cameras.h"
#include "offloadpos.h"

// One photo of a card as the matcher sees it: where it is and when the camera says it was taken.
struct MatchPhoto
{
    QString path; // relative to the camera folder
    bool hasTime = false;
    double time = 0; // camera clock, local seconds since 1970 with the sub-seconds if known
};

// Which POS record each photo of each camera belongs to, the records a camera has no photo of
// and the photos that belong to no record. Records are counted through the sets as one list in
// the order the sets were given (the list the tagging step indexes).
struct ExposureMatch
{
    struct Camera
    {
        bool takesPart = false;
        bool byTime = false;       // false: photo i is record i
        QStringList photos;        // capture order
        std::vector<int> recordOf; // per photo, -1 for an extra photo
        std::vector<int> missed;   // records, ascending
        std::vector<int> extra;    // photo indexes, ascending
        int matched = 0;
        bool hasOffset = false;
        double offsetSeconds = 0; // camera clock minus POS clock
        double offsetSpread = 0;  // standard deviation of the pairs around it
        // How the clock offset was chosen. Evenly spaced exposures on a card that holds only a
        // part of the records fit as well at any whole number of trigger intervals; then the
        // offset nearest a whole number of hours (a clock set to local time) is taken when it
        // stands out, else the camera is not matched by time and the candidates are kept.
        enum class Offset { Pattern, NearestHour, Given, Ambiguous };
        Offset offsetFrom = Offset::Pattern;
        std::vector<double> candidates; // ambiguous: offsets that fit as well, nearest hour first
    };

    Camera cameras[Cameras::Count]; // by engine camera number
    std::vector<int> setStarts;     // first record of each set, then the total

    int recordCount() const { return setStarts.empty() ? 0 : setStarts.back(); }
    int setOf(int record) const;      // 0-based set, -1 out of range
    int indexInSet(int record) const; // 0-based, -1 out of range
    // The record of photo index of camera, -1 when it has none.
    int recordOf(int camera, int photo) const;
    bool clean() const; // every camera fully matched, nothing missed or extra
    bool ambiguous() const; // a camera's clock offset could not be told from its photos
};

// Matches the photos of the five cameras to the POS records. By time: each camera's clock
// offset is found from the pattern of its exposures against the records (any size, hours of
// time zone included), then the photo sequence is aligned to the record sequence in order, so
// that whole-second times at one-second intervals, missed and extra exposures and several
// sorties still give each photo its own record; the cameras fire together, so a record that
// the other cameras have weighs for a camera's choice. A camera whose photos carry no times,
// or whose times fit no record pattern, falls back to photo i = record i.
class ExposureMatcher
{
public:
    enum class Method { Time, Index };

    void setRecords(const QList<OffloadPosSet> &sets);
    void setPhotos(int camera, const QList<MatchPhoto> &photos);
    void setMethod(Method method) { m_method = method; }
    // The camera clock minus the POS clock as the operator gives it: every camera is aligned
    // around it instead of searching for its offset.
    void setGivenOffset(double seconds)
    {
        m_hasGiven = true;
        m_given = seconds;
    }
    ExposureMatch run() const;

private:
    struct Record
    {
        double time;
        int global;
    };
    struct Alignment
    {
        double score = 0;
        std::vector<std::pair<int, int>> pairs; // (photo, sorted record)
    };
    struct Camera
    {
        bool takesPart = false;
        QList<MatchPhoto> photos;
    };
    // What the other cameras say, per record by time: how many of them have it, and the time
    // this camera's clock would show for it by theirs (NaN where none has it).
    struct Hints
    {
        std::vector<double> bonus;
        std::vector<double> predicted;
        std::vector<double> together; // per photo: worth of any record for it
    };

    void matchByIndex(int camera, ExposureMatch::Camera *out) const;
    bool matchByTime(int camera, const Hints &hints, ExposureMatch::Camera *out,
                     const double *pinned = nullptr, bool weighTies = false) const;
    bool settleTies(int camera, const std::vector<int> &timed, const Hints &hints, Alignment *a,
                    ExposureMatch::Camera::Offset *from, std::vector<double> *candidates) const;
    Hints hintsFor(int camera, const ExposureMatch &first) const;
    std::vector<double> offsetCandidates(const std::vector<double> &photoTimes) const;
    Alignment align(const std::vector<int> &timed, const std::vector<double> &offsets,
                    const Hints &hints, int camera) const;
    std::vector<double> localOffsets(const std::vector<int> &timed, const Alignment &a, int camera,
                                     std::vector<int> *sets = nullptr) const;
    Alignment best(int camera, const std::vector<int> &timed, const Hints &hints,
                   const double *pinned) const;

    Method m_method = Method::Time;
    bool m_hasGiven = false;
    double m_given = 0;
    double m_interval = 0;        // the trigger's: mean step between records within runs
    std::vector<Record> m_sorted; // records with a valid time, by time
    std::vector<int> m_setStarts;
    Camera m_cameras[Cameras::Count];
};
