#include "exposurematcher.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <numeric>

namespace {

// A photo pairs with a record whose time lies this close to the photo's time less the offset.
// Whole-second times on both sides put a true pair up to one second off; the sequence, not the
// window, tells neighbours apart.
constexpr double Window = 1.5;
constexpr double Sure = 0.6;   // residuals up to this are all as good: whole seconds blur them
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
        if (c.takesPart && (!c.missed.empty() || !c.extra.empty()))
            return false;
    }
    return true;
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
    std::vector<int> support(m_sorted.size(), 0);
    int timedCameras = 0;
    for (int camera = 0; camera < Cameras::Count; ++camera) {
        if (!m_cameras[camera].takesPart)
            continue;
        ExposureMatch::Camera &out = result.cameras[camera];
        const bool byTime = m_method == Method::Time && matchByTime(camera, {}, 0, &out);
        if (!byTime) {
            matchByIndex(camera, &out);
            continue;
        }
        ++timedCameras;
    }
    if (timedCameras < 3)
        return result;
    // Second round: each camera again, now knowing which records the others have.
    std::vector<int> sortedOf(size_t(result.recordCount()), -1);
    for (size_t i = 0; i < m_sorted.size(); ++i)
        sortedOf[size_t(m_sorted[i].global)] = int(i);
    std::vector<std::vector<int>> mine(Cameras::Count);
    for (int camera = 0; camera < Cameras::Count; ++camera) {
        const ExposureMatch::Camera &c = result.cameras[camera];
        if (!c.byTime)
            continue;
        for (int record : c.recordOf) {
            if (record >= 0 && sortedOf[size_t(record)] >= 0) {
                ++support[size_t(sortedOf[size_t(record)])];
                mine[size_t(camera)].push_back(sortedOf[size_t(record)]);
            }
        }
    }
    ExposureMatch second = result;
    for (int camera = 0; camera < Cameras::Count; ++camera) {
        if (!result.cameras[camera].byTime)
            continue;
        std::vector<int> others = support;
        for (int i : mine[size_t(camera)])
            --others[size_t(i)];
        matchByTime(camera, others, timedCameras - 1, &second.cameras[camera]);
    }
    return second;
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

bool ExposureMatcher::matchByTime(int camera, const std::vector<int> &others, int otherCameras,
                                  ExposureMatch::Camera *out) const
{
    const QList<MatchPhoto> &photos = m_cameras[camera].photos;
    std::vector<int> timed;
    for (int j = 0; j < photos.size(); ++j) {
        if (photos.at(j).hasTime)
            timed.push_back(j);
    }
    if (m_sorted.empty() || timed.size() < 2 || timed.size() * 2 < size_t(photos.size()))
        return false;
    std::vector<double> bonus(m_sorted.size(), 0.0);
    if (otherCameras >= 2 && others.size() == m_sorted.size()) {
        for (size_t i = 0; i < bonus.size(); ++i)
            bonus[i] = 0.3 * others[i] / otherCameras - 0.1;
    }
    std::vector<double> offsets;
    const Alignment a = best(camera, timed, bonus, &offsets);
    // Times that fit no part of the record pattern say nothing about the order.
    if (a.pairs.size() < 2 || a.pairs.size() * 2 < std::min(timed.size(), m_sorted.size()))
        return false;

    ExposureMatch::Camera c;
    c.takesPart = true;
    c.byTime = true;
    for (const MatchPhoto &photo : photos)
        c.photos << photo.path;
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
        auto r = std::lower_bound(recordTimes.begin(), recordTimes.end(),
                                  p - middle - double(reach));
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
                                                  const std::vector<double> &bonus,
                                                  int camera) const
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
    MaxTree tree(m_sorted.size());
    std::vector<Node> nodes;
    std::vector<Option> options;
    for (size_t t = 0; t < timed.size(); ++t) {
        const double expected = photos.at(timed[t]).time - offsets[t];
        auto from = std::lower_bound(
            m_sorted.begin(), m_sorted.end(), expected - Window,
            [](const Record &r, double time) { return r.time < time; });
        options.clear();
        for (auto r = from; r != m_sorted.end() && r->time <= expected + Window; ++r) {
            const long i = long(r - m_sorted.begin());
            const double worth = worthOf(expected - r->time) + bonus[size_t(i)];
            if (worth <= 0)
                continue;
            const auto before = tree.upTo(i - 1);
            options.push_back({i, before.first + worth, before.second});
        }
        for (const Option &o : options) {
            nodes.push_back({int(t), int(o.record), o.previous});
            tree.raise(o.record, {o.value, int(nodes.size()) - 1});
        }
    }
    Alignment a;
    const auto end = tree.upTo(long(m_sorted.size()) - 1);
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
std::vector<double> ExposureMatcher::localOffsets(const std::vector<int> &timed,
                                                  const Alignment &a, int camera) const
{
    const QList<MatchPhoto> &photos = m_cameras[camera].photos;
    const int sets = int(m_setStarts.size()) - 1;
    std::vector<std::vector<double>> bySet(size_t(std::max(sets, 1)));
    std::vector<int> setOfPair;
    std::vector<int> at;
    for (const auto &[t, i] : a.pairs) {
        const int global = m_sorted[size_t(i)].global;
        const int set = int(std::upper_bound(m_setStarts.begin(), m_setStarts.end(), global) -
                            m_setStarts.begin()) - 1;
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
    for (size_t t = 0; t < timed.size(); ++t) {
        const long q = long(std::lower_bound(at.begin(), at.end(), int(t)) - at.begin());
        long nearest = std::min(q, long(at.size()) - 1);
        if (q > 0 && q < long(at.size())) {
            const double time = photos.at(timed[t]).time;
            const double after = std::fabs(photos.at(timed[size_t(at[size_t(q)])]).time - time);
            const double before = std::fabs(time - photos.at(timed[size_t(at[size_t(q - 1)])]).time);
            nearest = before < after ? q - 1 : q;
        }
        offsets[t] = setOffset[size_t(setOfPair[size_t(nearest)])];
    }
    return offsets;
}

ExposureMatcher::Alignment ExposureMatcher::best(int camera, const std::vector<int> &timed,
                                                 const std::vector<double> &bonus,
                                                 std::vector<double> *offsets) const
{
    const QList<MatchPhoto> &photos = m_cameras[camera].photos;
    std::vector<double> photoTimes;
    for (int j : timed)
        photoTimes.push_back(photos.at(j).time);
    std::vector<std::pair<double, double>> tried; // (score, offset)
    for (double candidate : offsetCandidates(photoTimes)) {
        const Alignment a = align(timed, std::vector<double>(timed.size(), candidate), bonus,
                                  camera);
        tried.push_back({a.score, candidate});
    }
    std::sort(tried.begin(), tried.end(), std::greater<>());
    Alignment winner;
    winner.score = -1;
    for (size_t k = 0; k < tried.size() && k < 3; ++k) {
        std::vector<double> local(timed.size(), tried[k].second);
        Alignment a = align(timed, local, bonus, camera);
        for (int round = 0; round < 2 && !a.pairs.empty(); ++round) {
            local = localOffsets(timed, a, camera);
            a = align(timed, local, bonus, camera);
        }
        if (a.score > winner.score) {
            winner = a;
            *offsets = local;
        }
    }
    return winner;
}
