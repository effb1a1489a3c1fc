#include "exposurematcher.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <numeric>
#include <set>

namespace {

// A photo pairs with a record whose time lies this close to the photo's time less the offset.
// Whole-second times on both sides put a true pair up to one second off; the sequence, not the
// window, tells neighbours apart.
constexpr double Window = 1.5;
constexpr double Sure = 0.6;    // residuals up to this are all as good: whole seconds blur them
constexpr double Nothing = 1.1; // residual at which a pair is worth nothing

// Flat near zero: within the blur of whole-second clocks a closer residual proves nothing, and
// a chain that slips one record to smooth the residuals would pay with a missed and an extra.
double worthOf(double residual)
{
    const double e = std::fabs(residual);
    // The small slope only settles ties: of two records a photo could take, the one whose
    // residual is the more frequent whole-second value of the sortie.
    return (e <= Sure ? 1.0 : (Nothing - e) / (Nothing - Sure)) - 0.02 * e;
}

double median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    const size_t mid = values.size() / 2;
    std::nth_element(values.begin(), values.begin() + long(mid), values.end());
    return values[mid];
}

// Prefix maximum over record indexes with the chain node that reached it.
class MaxTree
{
public:
    explicit MaxTree(size_t size)
        : m_tree(size + 1, {0.0, -1})
    {}
    std::pair<double, int> upTo(long index) const // over [0, index]
    {
        std::pair<double, int> best{0.0, -1};
        for (long i = index + 1; i > 0; i -= i & -i) {
            if (m_tree[size_t(i)].first > best.first)
                best = m_tree[size_t(i)];
        }
        return best;
    }
    void raise(long index, std::pair<double, int> value)
    {
        for (long i = index + 1; i < long(m_tree.size()); i += i & -i) {
            if (value.first > m_tree[size_t(i)].first)
                m_tree[size_t(i)] = value;
        }
    }

private:
    std::vector<std::pair<double, int>> m_tree;
};

// Starts and ends of the runs of a time sequence between pauses (turns, landings): the
// pattern that pins an offset when the exposures within a run are evenly spaced.
void runMarks(const std::vector<double> &times, std::vector<double> *starts,
              std::vector<double> *ends)
{
    if (times.empty())
        return;
    std::vector<double> steps;
    for (size_t k = 1; k < times.size(); ++k) {
        if (times[k] > times[k - 1])
            steps.push_back(times[k] - times[k - 1]);
    }
    const double step = median(steps);
    const double pause = std::max(3 * step, step + 4);
    starts->push_back(times.front());
    for (size_t k = 1; k < times.size(); ++k) {
        if (std::fabs(times[k] - times[k - 1]) > pause) {
            ends->push_back(times[k - 1]);
            starts->push_back(times[k]);
        }
    }
    ends->push_back(times.back());
}

} // namespace

int ExposureMatch::setOf(int record) const
{
    if (record < 0 || record >= recordCount())
        return -1;
    const auto next = std::upper_bound(setStarts.begin(), setStarts.end(), record);
    return int(next - setStarts.begin()) - 1;
}

int ExposureMatch::indexInSet(int record) const
{
    const int set = setOf(record);
    return set < 0 ? -1 : record - setStarts[size_t(set)];
}

int ExposureMatch::recordOf(int camera, int photo) const
{
    const Camera &c = cameras[camera];
    return photo >= 0 && size_t(photo) < c.recordOf.size() ? c.recordOf[size_t(photo)] : -1;
}

bool ExposureMatch::clean() const
{
    for (const Camera &c : cameras) {
        if (c.takesPart &&
            (!c.missed.empty() || !c.extra.empty() || c.offsetFrom == Camera::Offset::Ambiguous))
            return false;
    }
    return true;
}

bool ExposureMatch::ambiguous() const
{
    for (const Camera &c : cameras) {
        if (c.takesPart && c.offsetFrom == Camera::Offset::Ambiguous)
            return true;
    }
    return false;
}

void ExposureMatcher::setRecords(const QList<OffloadPosSet> &sets)
{
    m_sorted.clear();
    m_setStarts.clear();
    int global = 0;
    for (const OffloadPosSet &set : sets) {
        m_setStarts.push_back(global);
        for (int i = 0; i < set.positions.size(); ++i, ++global) {
            if (i < set.times.size() && set.times.at(i) != uint(-1))
                m_sorted.push_back({double(set.times.at(i)), global});
        }
    }
    m_setStarts.push_back(global);
    std::stable_sort(m_sorted.begin(), m_sorted.end(),
                     [](const Record &a, const Record &b) { return a.time < b.time; });
    std::vector<double> steps;
    for (size_t k = 1; k < m_sorted.size(); ++k)
        steps.push_back(m_sorted[k].time - m_sorted[k - 1].time);
    const double step = median(steps);
    const double pause = std::max(3 * step, step + 4);
    double sum = 0;
    int count = 0;
    for (double s : steps) {
        if (s <= pause)
            sum += s, ++count;
    }
    m_interval = count ? sum / count : 0;
}

void ExposureMatcher::setPhotos(int camera, const QList<MatchPhoto> &photos)
{
    m_cameras[camera].takesPart = true;
    m_cameras[camera].photos = photos;
}

ExposureMatch ExposureMatcher::run() const
{
    ExposureMatch result;
    result.setStarts = m_setStarts.empty() ? std::vector<int>{0} : m_setStarts;
    int timedCameras = 0;
    for (int camera = 0; camera < Cameras::Count; ++camera) {
        if (!m_cameras[camera].takesPart)
            continue;
        ExposureMatch::Camera &out = result.cameras[camera];
        const bool byTime =
            m_method == Method::Time &&
            matchByTime(camera, Hints(), &out, m_hasGiven ? &m_given : nullptr, true);
        if (!byTime) {
            if (out.offsetFrom != ExposureMatch::Camera::Offset::Ambiguous)
                matchByIndex(camera, &out);
            continue;
        }
        ++timedCameras;
    }
    if (timedCameras < 2)
        return result;
    // Second round: each camera again, now knowing which records the others have and when
    // their clocks saw them.
    ExposureMatch second = result;
    for (int camera = 0; camera < Cameras::Count; ++camera) {
        const ExposureMatch::Camera &first = result.cameras[camera];
        if (!first.byTime)
            continue;
        // An offset chosen among equal fits stays chosen: the others' hints only settle pairs.
        const bool keep = first.offsetFrom != ExposureMatch::Camera::Offset::Pattern;
        const double offset = first.offsetSeconds;
        if (matchByTime(camera, hintsFor(camera, result), &second.cameras[camera],
                        keep ? &offset : nullptr))
            second.cameras[camera].offsetFrom = first.offsetFrom;
    }
    return second;
}

ExposureMatcher::Hints ExposureMatcher::hintsFor(int camera, const ExposureMatch &first) const
{
    const double none = std::nan("");
    std::vector<int> sortedOf(size_t(first.recordCount()), -1);
    for (size_t i = 0; i < m_sorted.size(); ++i)
        sortedOf[size_t(m_sorted[i].global)] = int(i);
    // Each camera's photo time at each record of the first round.
    std::vector<std::vector<double>> at(Cameras::Count);
    int cameras = 0;
    for (int c = 0; c < Cameras::Count; ++c) {
        const ExposureMatch::Camera &m = first.cameras[c];
        if (!m.byTime)
            continue;
        ++cameras;
        at[size_t(c)].assign(m_sorted.size(), none);
        for (size_t j = 0; j < m.recordOf.size(); ++j) {
            const MatchPhoto &photo = m_cameras[c].photos.at(int(j));
            if (m.recordOf[j] >= 0 && photo.hasTime && sortedOf[size_t(m.recordOf[j])] >= 0)
                at[size_t(c)][size_t(sortedOf[size_t(m.recordOf[j])])] = photo.time;
        }
    }
    Hints hints;
    hints.bonus.assign(m_sorted.size(), 0.0);
    hints.predicted.assign(m_sorted.size(), none);
    std::vector<double> sum(m_sorted.size(), 0.0);
    std::vector<int> count(m_sorted.size(), 0);
    const std::vector<double> &mine = at[size_t(camera)];
    for (int c = 0; c < Cameras::Count; ++c) {
        if (c == camera || at[size_t(c)].empty())
            continue;
        // Two clocks differ by a constant; photo against photo, the POS rounding drops out.
        double difference = 0;
        int common = 0;
        for (size_t i = 0; i < m_sorted.size(); ++i) {
            if (!std::isnan(mine[i]) && !std::isnan(at[size_t(c)][i])) {
                difference += mine[i] - at[size_t(c)][i];
                ++common;
            }
        }
        if (common == 0)
            continue;
        difference /= common;
        // A photo that the other cameras took at the same moment is an exposure of the
        // trigger, which the POS log records: it deserves a record more than a lone one.
        std::vector<double> theirs;
        for (const MatchPhoto &photo : m_cameras[c].photos) {
            if (photo.hasTime)
                theirs.push_back(photo.time + difference);
        }
        std::sort(theirs.begin(), theirs.end());
        hints.together.resize(size_t(m_cameras[camera].photos.size()), 0.0);
        for (int j = 0; j < m_cameras[camera].photos.size(); ++j) {
            const double time = m_cameras[camera].photos.at(j).time;
            const auto near = std::lower_bound(theirs.begin(), theirs.end(), time - Sure);
            if (near != theirs.end() && *near <= time + Sure)
                hints.together[size_t(j)] += 0.3 / (cameras - 1);
        }
        for (size_t i = 0; i < m_sorted.size(); ++i) {
            if (std::isnan(at[size_t(c)][i]))
                continue;
            sum[i] += at[size_t(c)][i] + difference;
            ++count[i];
        }
    }
    for (size_t i = 0; i < m_sorted.size(); ++i) {
        if (count[i] > 0)
            hints.predicted[i] = sum[i] / count[i];
        if (cameras >= 3)
            hints.bonus[i] = 0.3 * count[i] / (cameras - 1) - 0.1;
    }
    return hints;
}

void ExposureMatcher::matchByIndex(int camera, ExposureMatch::Camera *out) const
{
    const QList<MatchPhoto> &photos = m_cameras[camera].photos;
    const int records = m_setStarts.empty() ? 0 : m_setStarts.back();
    *out = ExposureMatch::Camera();
    out->takesPart = true;
    for (int j = 0; j < photos.size(); ++j) {
        out->photos << photos.at(j).path;
        out->recordOf.push_back(j < records ? j : -1);
        if (j >= records)
            out->extra.push_back(j);
    }
    for (int i = int(photos.size()); i < records; ++i)
        out->missed.push_back(i);
    out->matched = std::min(int(photos.size()), records);
}

bool ExposureMatcher::matchByTime(int camera, const Hints &hints, ExposureMatch::Camera *out,
                                  const double *pinned, bool weighTies) const
{
    const QList<MatchPhoto> &photos = m_cameras[camera].photos;
    std::vector<int> timed;
    for (int j = 0; j < photos.size(); ++j) {
        if (photos.at(j).hasTime)
            timed.push_back(j);
    }
    if (m_sorted.empty() || timed.size() < 2 || timed.size() * 2 < size_t(photos.size()))
        return false;
    Alignment a = best(camera, timed, hints, pinned);
    // Times that fit no part of the record pattern say nothing about the order.
    if (a.pairs.size() < 2 || a.pairs.size() * 2 < std::min(timed.size(), m_sorted.size()))
        return false;

    ExposureMatch::Camera c;
    c.takesPart = true;
    for (const MatchPhoto &photo : photos)
        c.photos << photo.path;
    c.offsetFrom =
        pinned ? ExposureMatch::Camera::Offset::Given : ExposureMatch::Camera::Offset::Pattern;
    if (!pinned && weighTies &&
        !settleTies(camera, timed, hints, &a, &c.offsetFrom, &c.candidates)) {
        // No guess: a photo tagged with another exposure's position looks as right as its own.
        c.recordOf.assign(size_t(photos.size()), -1);
        *out = c;
        return false;
    }
    c.byTime = true;
    c.recordOf.assign(size_t(photos.size()), -1);
    std::vector<int> sortedOfPhoto(size_t(photos.size()), -1);
    std::vector<bool> taken(m_sorted.size(), false);
    double sum = 0;
    for (const auto &[t, i] : a.pairs) {
        sortedOfPhoto[size_t(timed[size_t(t)])] = i;
        taken[size_t(i)] = true;
        sum += photos.at(timed[size_t(t)]).time - m_sorted[size_t(i)].time;
    }
    c.hasOffset = true;
    c.offsetSeconds = sum / double(a.pairs.size());
    double squares = 0;
    for (const auto &[t, i] : a.pairs) {
        const double d =
            photos.at(timed[size_t(t)]).time - m_sorted[size_t(i)].time - c.offsetSeconds;
        squares += d * d;
    }
    c.offsetSpread = std::sqrt(squares / double(a.pairs.size()));
    // A photo without a time between two matched ones takes the free record between them when
    // the counts leave no choice.
    int lastPhoto = -1;
    int lastRecord = -1;
    for (int j = 0; j <= photos.size(); ++j) {
        const int i = j < photos.size() ? sortedOfPhoto[size_t(j)] : int(m_sorted.size());
        if (j < photos.size() && i < 0)
            continue;
        std::vector<int> untimed;
        for (int k = lastPhoto + 1; k < j; ++k) {
            if (!photos.at(k).hasTime)
                untimed.push_back(k);
        }
        std::vector<int> free;
        for (int r = lastRecord + 1; r < i; ++r) {
            if (!taken[size_t(r)])
                free.push_back(r);
        }
        if (lastPhoto >= 0 && j < photos.size() && !untimed.empty() &&
            untimed.size() == free.size()) {
            for (size_t k = 0; k < untimed.size(); ++k) {
                sortedOfPhoto[size_t(untimed[k])] = free[k];
                taken[size_t(free[k])] = true;
            }
        }
        lastPhoto = j;
        lastRecord = i;
    }
    std::vector<bool> matchedRecord(size_t(m_setStarts.back()), false);
    for (int j = 0; j < photos.size(); ++j) {
        const int i = sortedOfPhoto[size_t(j)];
        if (i < 0) {
            c.extra.push_back(j);
            continue;
        }
        c.recordOf[size_t(j)] = m_sorted[size_t(i)].global;
        matchedRecord[size_t(m_sorted[size_t(i)].global)] = true;
        ++c.matched;
    }
    for (size_t r = 0; r < matchedRecord.size(); ++r) {
        if (!matchedRecord[r])
            c.missed.push_back(int(r));
    }
    *out = c;
    return true;
}

// Offsets worth aligning with: the shifts that put the runs' starts or ends of the photos onto
// those of the records, and the best-filled shifts near the one that lays the middle of the
// photos onto the middle of the records.
std::vector<double> ExposureMatcher::offsetCandidates(const std::vector<double> &photoTimes) const
{
    std::vector<double> recordTimes;
    recordTimes.reserve(m_sorted.size());
    for (const Record &r : m_sorted)
        recordTimes.push_back(r.time);
    std::vector<double> candidates;

    std::vector<double> photoStarts, photoEnds, recordStarts, recordEnds;
    runMarks(photoTimes, &photoStarts, &photoEnds);
    runMarks(recordTimes, &recordStarts, &recordEnds);
    std::map<long long, int> votes;
    auto vote = [&votes](const std::vector<double> &ps, const std::vector<double> &rs) {
        if (ps.size() * rs.size() > 250000)
            return;
        for (double p : ps) {
            for (double r : rs)
                ++votes[std::llround(p - r)];
        }
    };
    vote(photoStarts, recordStarts);
    vote(photoEnds, recordEnds);
    std::vector<std::pair<int, long long>> ranked;
    for (const auto &[shift, count] : votes)
        ranked.push_back({count, shift});
    std::sort(ranked.begin(), ranked.end(), std::greater<>());
    for (size_t k = 0; k < ranked.size() && k < 8; ++k) {
        candidates.push_back(double(ranked[k].second) - 0.5);
        candidates.push_back(double(ranked[k].second) + 0.5);
    }

    const double middle = median(photoTimes) - median(recordTimes);
    const double span = recordTimes.back() - recordTimes.front();
    const long reach = long(std::clamp(0.15 * span + 120, 120.0, 4 * 3600.0));
    std::vector<int> fill(size_t(2 * reach + 2), 0);
    const size_t samples = std::min<size_t>(photoTimes.size(), 400);
    for (size_t s = 0; s < samples; ++s) {
        const double p = photoTimes[s * photoTimes.size() / samples];
        auto r =
            std::lower_bound(recordTimes.begin(), recordTimes.end(), p - middle - double(reach));
        for (; r != recordTimes.end() && *r <= p - middle + double(reach); ++r) {
            const long bin = long(std::floor(p - *r - middle)) + reach;
            if (bin >= 0 && bin + 1 < long(fill.size()))
                ++fill[size_t(bin)];
        }
    }
    std::vector<std::pair<int, long>> pairsFill;
    for (long b = 0; b + 1 < long(fill.size()); ++b)
        pairsFill.push_back({fill[size_t(b)] + fill[size_t(b + 1)], b});
    const size_t keep = std::min<size_t>(pairsFill.size(), 16);
    std::partial_sort(pairsFill.begin(), pairsFill.begin() + long(keep), pairsFill.end(),
                      std::greater<>());
    for (size_t k = 0; k < keep; ++k) {
        if (pairsFill[k].first > 0)
            candidates.push_back(middle - double(reach) + double(pairsFill[k].second) + 1);
    }
    for (double &c : candidates)
        c = std::round(c * 2) / 2;
    std::sort(candidates.begin(), candidates.end());
    candidates.erase(std::unique(candidates.begin(), candidates.end()), candidates.end());
    return candidates;
}

// The order-keeping chain of (photo, record) pairs with the best total worth: a pair is worth
// more the closer its residual to the photo's offset, plus what the other cameras say about
// the record. Records and photos left out are the missed and the extra ones.
ExposureMatcher::Alignment ExposureMatcher::align(const std::vector<int> &timed,
                                                  const std::vector<double> &offsets,
                                                  const Hints &hints, int camera) const
{
    struct Node
    {
        int photo;
        int record;
        int previous;
    };
    struct Option
    {
        long record;
        double value;
        int previous;
    };
    const QList<MatchPhoto> &photos = m_cameras[camera].photos;
    // Only the records within reach of some photo can pair: the chain runs over that stretch
    // of the records, not over a whole week's table for each offset tried.
    double lowest = std::numeric_limits<double>::max();
    double highest = std::numeric_limits<double>::lowest();
    for (size_t t = 0; t < timed.size(); ++t) {
        const double expected = photos.at(timed[t]).time - offsets[t];
        lowest = std::min(lowest, expected);
        highest = std::max(highest, expected);
    }
    const auto byTime = [](const Record &r, double time) { return r.time < time; };
    const long first =
        timed.empty() ? 0
                      : long(std::lower_bound(m_sorted.begin(), m_sorted.end(), lowest - Window,
                                              byTime) -
                             m_sorted.begin());
    const long last =
        timed.empty() ? 0
                      : long(std::upper_bound(m_sorted.begin(), m_sorted.end(), highest + Window,
                                              [](double time, const Record &r) {
                                                  return time < r.time;
                                              }) -
                             m_sorted.begin());
    MaxTree tree(size_t(std::max(last - first, 0L)));
    std::vector<Node> nodes;
    std::vector<Option> options;
    for (size_t t = 0; t < timed.size(); ++t) {
        const double expected = photos.at(timed[t]).time - offsets[t];
        auto from = std::lower_bound(m_sorted.begin(), m_sorted.end(), expected - Window,
                                     [](const Record &r, double time) { return r.time < time; });
        options.clear();
        for (auto r = from; r != m_sorted.end() && r->time <= expected + Window; ++r) {
            const long i = long(r - m_sorted.begin());
            double worth = worthOf(expected - r->time);
            if (!hints.bonus.empty())
                worth += hints.bonus[size_t(i)];
            if (!hints.together.empty())
                worth += hints.together[size_t(timed[t])];
            // The other cameras' photos of the record, on this camera's clock: they fired
            // together, so this settles what whole-second POS times leave open.
            if (!hints.predicted.empty() && !std::isnan(hints.predicted[size_t(i)]))
                worth += 0.4 * (0.5 - std::min(1.0, std::fabs(photos.at(timed[t]).time -
                                                              hints.predicted[size_t(i)])));
            if (worth <= 0)
                continue;
            const auto before = tree.upTo(i - 1 - first);
            options.push_back({i, before.first + worth, before.second});
        }
        for (const Option &o : options) {
            nodes.push_back({int(t), int(o.record), o.previous});
            tree.raise(o.record - first, {o.value, int(nodes.size()) - 1});
        }
    }
    Alignment a;
    const auto end = tree.upTo(last - first - 1);
    a.score = end.first;
    for (int n = end.second; n >= 0; n = nodes[size_t(n)].previous)
        a.pairs.push_back({nodes[size_t(n)].photo, nodes[size_t(n)].record});
    std::reverse(a.pairs.begin(), a.pairs.end());
    return a;
}

// Each sortie's own offset (a trimmed mean of its pairs) for the photos around its pairs. The
// camera clock does not jump within a sortie, so a run of photos may not slip one record to
// smooth its residuals; a fresh trigger phase in another sortie centres its whole-second
// residuals anew.
std::vector<double> ExposureMatcher::localOffsets(const std::vector<int> &timed, const Alignment &a,
                                                  int camera, std::vector<int> *sets) const
{
    const QList<MatchPhoto> &photos = m_cameras[camera].photos;
    const int setCount = int(m_setStarts.size()) - 1;
    std::vector<std::vector<double>> bySet(size_t(std::max(setCount, 1)));
    std::vector<int> setOfPair;
    std::vector<int> at;
    for (const auto &[t, i] : a.pairs) {
        const int global = m_sorted[size_t(i)].global;
        const int set = int(std::upper_bound(m_setStarts.begin(), m_setStarts.end(), global) -
                            m_setStarts.begin()) -
                        1;
        bySet[size_t(set)].push_back(photos.at(timed[size_t(t)]).time - m_sorted[size_t(i)].time);
        setOfPair.push_back(set);
        at.push_back(t);
    }
    std::vector<double> setOffset(bySet.size(), 0.0);
    for (size_t set = 0; set < bySet.size(); ++set) {
        const double m = median(bySet[set]);
        double sum = 0;
        int n = 0;
        for (double v : bySet[set]) {
            if (std::fabs(v - m) <= Window) {
                sum += v;
                ++n;
            }
        }
        setOffset[set] = n ? sum / n : m;
    }
    std::vector<double> offsets(timed.size(), 0.0);
    if (sets)
        sets->assign(timed.size(), -1);
    for (size_t t = 0; t < timed.size() && !at.empty(); ++t) {
        const long q = long(std::lower_bound(at.begin(), at.end(), int(t)) - at.begin());
        long nearest = std::min(q, long(at.size()) - 1);
        if (q > 0 && q < long(at.size())) {
            const double time = photos.at(timed[t]).time;
            const double after = std::fabs(photos.at(timed[size_t(at[size_t(q)])]).time - time);
            const double before =
                std::fabs(time - photos.at(timed[size_t(at[size_t(q - 1)])]).time);
            nearest = before < after ? q - 1 : q;
        }
        offsets[t] = setOffset[size_t(setOfPair[size_t(nearest)])];
        if (sets)
            (*sets)[t] = setOfPair[size_t(nearest)];
    }
    return offsets;
}

// Evenly spaced exposures fit the records as well one trigger interval further on wherever the
// card's photos lie inside the records: only the ends of runs and of the records tell shifts
// apart. Of the offsets that fit as well, the one nearest a whole number of hours (a clock set
// to local time, plus a little drift) is taken when it is near and the next is clearly farther;
// otherwise false, with the candidates nearest an hour first.
bool ExposureMatcher::settleTies(int camera, const std::vector<int> &timed, const Hints &hints,
                                 Alignment *a, ExposureMatch::Camera::Offset *from,
                                 std::vector<double> *candidates) const
{
    const double step = m_interval;
    if (step <= 0 || a->pairs.empty())
        return true;
    const QList<MatchPhoto> &photos = m_cameras[camera].photos;
    // A pause between the paired photos (a turn, a landing) lands on a pause of the records at
    // one offset only.
    std::vector<double> paired, starts, ends;
    for (const auto &[t, i] : a->pairs)
        paired.push_back(photos.at(timed[size_t(t)]).time);
    runMarks(paired, &starts, &ends);
    if (starts.size() > 1)
        return true;
    const std::vector<double> local = localOffsets(timed, *a, camera);
    double offset = 0;
    for (const auto &[t, i] : a->pairs)
        offset += photos.at(timed[size_t(t)]).time - m_sorted[size_t(i)].time;
    offset /= double(a->pairs.size());
    std::vector<double> times;
    for (int j : timed)
        times.push_back(photos.at(j).time);
    std::sort(times.begin(), times.end());
    const size_t pairs = a->pairs.size();
    const double margin = std::max(step / 2, Window);
    // Cheap first: a shift that moves more photos off the records than are unpaired now
    // cannot fit as well.
    auto inside = [&](long k) {
        const double o = offset + double(k) * step;
        const auto lo =
            std::lower_bound(times.begin(), times.end(), m_sorted.front().time - margin + o);
        const auto hi =
            std::upper_bound(times.begin(), times.end(), m_sorted.back().time + margin + o);
        return size_t(hi - lo) >= pairs;
    };
    std::map<long, bool> known;
    auto shifted = [&](long k) {
        std::vector<double> moved = local;
        for (double &m : moved)
            m += double(k) * step;
        return align(timed, moved, hints, camera);
    };
    const double score = shifted(0).score;
    auto fits = [&](long k) {
        if (k == 0)
            return true;
        const auto at = known.find(k);
        if (at != known.end())
            return at->second;
        if (!inside(k))
            return known[k] = false;
        // As many pairs, each as close: pairs a second off their records on a one-second
        // trigger are pairs too, but worth much less.
        const Alignment b = shifted(k);
        return known[k] = b.pairs.size() >= pairs && b.score >= score - 0.25 - 0.01 * double(pairs);
    };
    if (!fits(-1) && !fits(1))
        return true;
    const long reach =
        long((m_sorted.back().time - m_sorted.front().time + times.back() - times.front()) / step) +
        2;
    long low = 0, high = 0;
    for (long k = -reach; k <= reach; ++k) {
        if (inside(k))
            low = std::min(low, k), high = std::max(high, k);
    }
    // Every other shift lies at least 1.5 intervals from its nearest hour: only the three
    // nearest each hour can compete.
    std::set<long> shifts{-1, 0, 1};
    const double hour = 3600;
    for (double h = hour * std::floor((offset + double(low) * step) / hour);
         h <= offset + double(high) * step + hour; h += hour) {
        const long k = std::lround((h - offset) / step);
        shifts.insert({k - 1, k, k + 1});
    }
    auto distance = [hour](double o) { return std::fabs(o - hour * std::round(o / hour)); };
    std::vector<std::pair<double, long>> found; // (distance to its hour, shift)
    for (long k : shifts) {
        if (k >= low && k <= high && fits(k))
            found.push_back({distance(offset + double(k) * step), k});
    }
    std::sort(found.begin(), found.end());
    const double nearest = found.front().first;
    const double next = found.size() > 1 ? found[1].first : 1.5 * step;
    if (nearest < 0.45 * step && next - nearest >= 0.2 * step) {
        if (found.front().second != 0)
            *a = shifted(found.front().second);
        *from = ExposureMatch::Camera::Offset::NearestHour;
        return true;
    }
    *from = ExposureMatch::Camera::Offset::Ambiguous;
    for (const auto &[d, k] : found)
        candidates->push_back(offset + double(k) * step);
    return false;
}

ExposureMatcher::Alignment ExposureMatcher::best(int camera, const std::vector<int> &timed,
                                                 const Hints &hints, const double *pinned) const
{
    const QList<MatchPhoto> &photos = m_cameras[camera].photos;
    std::vector<double> photoTimes;
    for (int j : timed)
        photoTimes.push_back(photos.at(j).time);
    std::vector<std::pair<double, double>> tried; // (score, offset)
    for (double candidate : pinned ? std::vector<double>{*pinned} : offsetCandidates(photoTimes)) {
        const Alignment a =
            align(timed, std::vector<double>(timed.size(), candidate), hints, camera);
        tried.push_back({a.score, candidate});
    }
    std::sort(tried.begin(), tried.end(), std::greater<>());
    Alignment winner;
    winner.score = -1;
    for (size_t k = 0; k < tried.size() && k < 3; ++k) {
        std::vector<double> local(timed.size(), tried[k].second);
        Alignment a = align(timed, local, hints, camera);
        for (int round = 0; round < 2 && !a.pairs.empty(); ++round) {
            local = localOffsets(timed, a, camera);
            a = align(timed, local, hints, camera);
        }
        // A sortie whose trigger phase differs from the others' may sit one second off; try
        // each sortie a second either way.
        std::vector<int> sets;
        localOffsets(timed, a, camera, &sets);
        for (int set = 0; set + 1 < int(m_setStarts.size()); ++set) {
            for (double shift : {-1.0, 1.0}) {
                std::vector<double> moved = local;
                for (size_t t = 0; t < moved.size(); ++t) {
                    if (sets[t] == set)
                        moved[t] += shift;
                }
                Alignment b = align(timed, moved, hints, camera);
                if (b.score > a.score + 1e-9) {
                    a = b;
                    local = moved;
                }
            }
        }
        if (a.score > winner.score)
            winner = a;
    }
    return winner;
}
