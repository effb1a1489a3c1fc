// The HTML of the flight report: tables of the cameras and sorties, the missed and extra
// exposures, and one map of exposure centres per sortie, drawn as inline SVG.
#include "flightreport.h"

#include <QDateTime>
#include <QFileInfo>
#include <QHash>
#include <QLocale>
#include <QPointF>
#include <QSet>

#include <algorithm>
#include <cmath>
#include <unordered_set>
#include <vector>

namespace {

QString esc(const QString &text)
{
    return text.toHtmlEscaped();
}

QString num(double value, int decimals)
{
    return QString::number(value, 'f', decimals);
}

QString timeText(const OffloadPosSet &set, int index)
{
    if (index < 0 || index >= set.times.size() || set.times.at(index) == uint(-1))
        return QString();
    return QDateTime::fromSecsSinceEpoch(qint64(set.times.at(index)))
        .toString(QStringLiteral("hh:mm:ss"));
}

// Colours of a record by how many of the cameras have its photo: all, all but one, fewer,
// none. Chosen to stay apart for the common red-green weakness (green against orange).
const char *const CoverageColours[4] = {"#1a9850", "#f39c12", "#d73027", "#5e3c99"};
const char *const MissedRing = "#222222";

int coverageClass(int have, int cameras)
{
    if (cameras > 0 && have >= cameras)
        return 0;
    if (have > 0 && have == cameras - 1)
        return 1;
    return have > 0 ? 2 : 3;
}

const int MaxListed = 200; // per list; a camera that lost its clock would list thousands

QString listItems(const QStringList &items)
{
    QString out;
    for (int i = 0; i < items.size() && i < MaxListed; ++i)
        out += QStringLiteral("<li>%1</li>").arg(items.at(i));
    if (items.size() > MaxListed)
        out += QStringLiteral("<li>……另有%1条，见 offload-report.json</li>")
                   .arg(items.size() - MaxListed);
    return out;
}

// The nice length of a scale bar: 1, 2 or 5 times a power of ten, at most limit metres.
double niceLength(double limit)
{
    const double power = std::pow(10.0, std::floor(std::log10(std::max(limit, 1.0))));
    for (double step : {5.0, 2.0, 1.0}) {
        if (step * power <= limit)
            return step * power;
    }
    return power;
}

QString lengthText(double metres)
{
    if (metres >= 1000)
        return QStringLiteral("%1 公里").arg(metres / 1000);
    return QStringLiteral("%1 米").arg(metres);
}

// The side of a map cell that holds one marker, in the map's units (it is 1000 wide): a few
// thousand cells over the whole map, what a screen can tell apart.
constexpr double MarkerCell = 12;

// The records a map draws a marker for, in record order: the first one in each cell of the
// map, and every one problem() marks wherever it lies.
template <typename At, typename Problem>
std::vector<int> thinnedMarkers(const std::vector<int> &records, At at, Problem problem,
                                double cell)
{
    std::unordered_set<qint64> taken;
    std::vector<int> kept;
    for (int i : records) {
        const QPointF p = at(i);
        const qint64 key = qint64(std::floor(p.x() / cell)) * 1000003 + qint64(std::floor(p.y() / cell));
        if (taken.insert(key).second || problem(i))
            kept.push_back(i);
    }
    return kept;
}

// The flight line through the records in order, as the map can show it: points within half a
// unit of the last one kept are left out, then, a stretch of at most 256 points at a time, the
// points within half a unit of the straight line between their neighbours (Douglas-Peucker).
// A straight survey line is two points, and the work stays in proportion to the records.
template <typename At>
std::vector<QPointF> simplifiedLine(const std::vector<int> &records, At at)
{
    constexpr double Tolerance = 0.5;
    constexpr size_t Stretch = 256;
    std::vector<QPointF> points;
    for (int i : records) {
        const QPointF p = at(i);
        if (points.empty() || std::hypot(p.x() - points.back().x(), p.y() - points.back().y()) >=
                                  Tolerance || i == records.back())
            points.push_back(p);
    }
    std::vector<bool> keep(points.size(), false);
    std::vector<std::pair<size_t, size_t>> stack;
    for (size_t begin = 0; begin + 1 < points.size(); begin += Stretch) {
        stack.push_back({begin, std::min(begin + Stretch, points.size() - 1)});
        keep[stack.back().first] = keep[stack.back().second] = true;
    }
    if (!points.empty())
        keep.front() = keep.back() = true;
    while (!stack.empty()) {
        const auto [from, to] = stack.back();
        stack.pop_back();
        const QPointF a = points[from], b = points[to];
        const double dx = b.x() - a.x(), dy = b.y() - a.y();
        const double length = std::hypot(dx, dy);
        double farthest = 0;
        size_t at = from;
        for (size_t k = from + 1; k < to; ++k) {
            const QPointF p = points[k];
            const double d = length > 0 ? std::fabs(dy * (p.x() - a.x()) - dx * (p.y() - a.y())) /
                                              length
                                        : std::hypot(p.x() - a.x(), p.y() - a.y());
            if (d > farthest)
                farthest = d, at = k;
        }
        if (farthest > Tolerance) {
            keep[at] = true;
            stack.push_back({from, at});
            stack.push_back({at, to});
        }
    }
    std::vector<QPointF> kept;
    for (size_t k = 0; k < points.size(); ++k) {
        if (keep[k])
            kept.push_back(points[k]);
    }
    return kept;
}

const char *const Style = R"(
body { font-family: "Microsoft YaHei", "Noto Sans CJK SC", "WenQuanYi Micro Hei", sans-serif;
       margin: 0; padding: 20px 28px; background: #f3f6f9; color: #333; font-size: 14px; }
h1 { font-size: 22px; margin: 0 0 4px 0; color: #1b4f72; }
h2 { font-size: 17px; margin: 22px 0 8px 0; color: #1b4f72; }
.meta { color: #666; margin-bottom: 12px; }
.verdict { padding: 10px 14px; border-radius: 4px; font-size: 16px; font-weight: bold; }
.ok { background: #e3f4e8; color: #1e7b3c; border: 1px solid #9ed3ad; }
.warn { background: #fdecea; color: #b03a2e; border: 1px solid #f1a9a0; }
.none { background: #eef2f6; color: #555; border: 1px solid #cfd6dd; }
table { border-collapse: collapse; background: white; margin-top: 4px; }
th, td { border: 1px solid #cfd6dd; padding: 5px 10px; }
th { background: rgb(210, 225, 240); font-weight: normal; }
td.n { text-align: right; font-variant-numeric: tabular-nums; }
td.bad { color: #b03a2e; font-weight: bold; }
.box { background: white; border: 1px solid #cfd6dd; padding: 10px 14px; margin-top: 6px; }
.box ul { margin: 4px 0 8px 0; columns: 3; }
.map { background: white; border: 1px solid #cfd6dd; margin-top: 6px; max-width: 1040px; }
.map svg { display: block; width: 100%; height: auto; }
.legend { padding: 6px 12px 10px 12px; color: #444; }
.legend span { margin-right: 18px; white-space: nowrap; }
.dot { display: inline-block; width: 11px; height: 11px; border-radius: 6px;
       vertical-align: -1px; margin-right: 4px; }
.ring { display: inline-block; width: 11px; height: 11px; border-radius: 8px;
        border: 2px solid #222; vertical-align: -3px; margin-right: 4px; }
.note { color: #666; font-size: 13px; }
.shots { background: white; border: 1px solid #cfd6dd; padding: 8px 12px; margin-top: 6px; }
.shots figure { display: inline-block; margin: 6px 10px 0 0; vertical-align: top;
                font-size: 12px; color: #555; max-width: 170px; }
.shots img { display: block; max-width: 160px; max-height: 160px; border: 1px solid #cfd6dd; }
.qring { display: inline-block; width: 9px; height: 9px; border-radius: 8px;
         border: 3px solid; vertical-align: -3px; margin-right: 4px; }
)";

} // namespace

QString FlightReport::runsText(const QList<MatchView::Run> &runs, int limit)
{
    // Record numbers from 1 with their thousands grouped, as the operator reads them.
    const QLocale numbers(QLocale::English);
    QStringList sorties;
    QStringList spans;
    int sortieCount = 0;
    int shown = 0;
    const auto close = [&](int sortie) {
        if (!spans.isEmpty())
            sorties << QStringLiteral("第%1架次 第%2条记录（%3条）")
                           .arg(sortie)
                           .arg(spans.join(QStringLiteral("、")))
                           .arg(numbers.toString(sortieCount));
        spans.clear();
        sortieCount = 0;
    };
    for (int k = 0; k < runs.size(); ++k) {
        const MatchView::Run &run = runs.at(k);
        if (k > 0 && runs.at(k - 1).sortie != run.sortie)
            close(runs.at(k - 1).sortie);
        sortieCount += run.count();
        if (shown >= limit)
            continue;
        ++shown;
        spans << (run.from == run.to ? numbers.toString(run.from + 1)
                                     : numbers.toString(run.from + 1) + QStringLiteral("–") +
                                           numbers.toString(run.to + 1));
    }
    if (!runs.isEmpty())
        close(runs.last().sortie);
    QString text = sorties.join(QStringLiteral("；"));
    if (runs.size() > limit)
        text += QStringLiteral("；……另有%1段未列出，见 offload-report.json").arg(runs.size() - limit);
    return text;
}

QString FlightReport::html() const
{
    int missed = 0;
    int extra = 0;
    for (const MatchView::Camera &c : m_view.cameras) {
        missed += c.missedCount;
        extra += int(c.extra.size());
    }
    int failed = 0;
    for (const Counts &c : m_counts)
        failed += c.failed;
    QString verdict;
    if (m_view.sorties.isEmpty()) {
        verdict =
            QStringLiteral("<div class=\"verdict none\">未添加POS文件：照片未与POS记录对应</div>");
    } else if (missed == 0 && extra == 0 && failed == 0) {
        verdict = QStringLiteral(
            "<div class=\"verdict ok\">全部照片与POS记录一一对应，没有漏拍和多余照片</div>");
    } else {
        QString problems = QStringLiteral("漏拍 %1 张，多余照片 %2 张").arg(missed).arg(extra);
        if (failed > 0)
            problems += QStringLiteral("，传输失败 %1 张").arg(failed);
        verdict = QStringLiteral("<div class=\"verdict warn\">请检查：%1</div>").arg(problems);
    }
    QString out = QStringLiteral("<!DOCTYPE html>\n<html lang=\"zh-CN\">\n<head>\n"
                                 "<meta charset=\"utf-8\"/>\n<title>传输报告</title>\n"
                                 "<style>%1</style>\n</head>\n<body>\n")
                      .arg(QLatin1String(Style));
    out += QStringLiteral(
               "<h1>传输报告</h1>\n<div class=\"meta\">保存目录：%1　　生成时间：%2</div>\n")
               .arg(esc(m_target), esc(m_written));
    out += verdict + QLatin1Char('\n');
    for (const QString &note : m_notes)
        out += QStringLiteral("<p class=\"note\">%1</p>\n").arg(esc(note));
    out += QStringLiteral("<h2>各相机</h2>\n") + cameraTable();
    if (m_looked)
        out += qualitySection();
    if (!m_view.sorties.isEmpty())
        out += QStringLiteral("<h2>架次</h2>\n") + sortieTable();
    out += exceptions();
    for (const MatchView::Sortie &sortie : m_view.sorties)
        out += sortieMap(sortie);
    out += QStringLiteral("</body>\n</html>\n");
    return out;
}

QStringList FlightReport::cameraNames() const
{
    QStringList names;
    for (const MatchView::Camera &c : m_view.cameras)
        names << c.name;
    for (const QString &name : m_countOrder) {
        if (!names.contains(name))
            names << name;
    }
    return names;
}

MatchView::Camera FlightReport::matchOf(const QString &name) const
{
    for (const MatchView::Camera &c : m_view.cameras) {
        if (c.name == name)
            return c;
    }
    MatchView::Camera none;
    none.name = name;
    return none;
}

QString FlightReport::cameraTable() const
{
    QString out = QStringLiteral(
        "<table>\n<tr><th>相机</th><th>卡上照片</th><th>已复制</th><th>已校验</th><th>失败</th>"
        "<th>对应方式</th><th>已对应</th><th>漏拍</th><th>多余</th><th>时钟偏差（秒）</th>"
        "<th>偏差离散（秒）</th></tr>\n");
    auto cell = [](int value, bool badWhenAny) {
        return QStringLiteral("<td class=\"n%1\">%2</td>")
            .arg(badWhenAny && value > 0 ? QStringLiteral(" bad") : QString())
            .arg(value);
    };
    for (const QString &name : cameraNames()) {
        const Counts counts = m_counts.value(name);
        const MatchView::Camera c = matchOf(name);
        QString method = QStringLiteral("—");
        QString offset = QStringLiteral("—");
        QString spread = QStringLiteral("—");
        if (!m_view.sorties.isEmpty()) {
            // Equal fits settled by the nearest whole hour or by the operator's offset are
            // still matches by capture time; the report says which.
            const bool byTime = c.method != QLatin1String("index");
            method = !byTime ? QStringLiteral("按顺序（无时间）")
                     : c.method == QLatin1String("nearest-hour")
                         ? QStringLiteral("按拍摄时间（整点时差）")
                     : c.method == QLatin1String("given-offset")
                         ? QStringLiteral("按拍摄时间（给定时差）")
                         : QStringLiteral("按拍摄时间");
            if (byTime) {
                offset = num(c.offsetSeconds, 1);
                // Whole hours are a time-zone setting of the camera, worth saying so.
                if (std::abs(c.offsetSeconds) >= 3600)
                    offset += QStringLiteral("（约%1小时）").arg(num(c.offsetSeconds / 3600, 1));
                spread = num(c.offsetSpread, 2);
            }
        }
        out += QStringLiteral("<tr><td>%1</td>").arg(esc(cameraText(name)));
        out += cell(counts.onCard, false) + cell(counts.copied, false) +
               cell(counts.verified, false) + cell(counts.failed, true);
        out += QStringLiteral("<td>%1</td>").arg(method);
        out += cell(c.matched, false) + cell(c.missedCount, true) +
               cell(int(c.extra.size()), true);
        out += QStringLiteral("<td class=\"n\">%1</td><td class=\"n\">%2</td></tr>\n")
                   .arg(offset, spread);
    }
    out += QStringLiteral("</table>\n");
    if (!m_view.sorties.isEmpty())
        out += QStringLiteral(
            "<p class=\"note\">时钟偏差：相机时间减POS时间。按顺序对应的相机没有拍摄时间，"
            "第几张照片即对应第几条POS记录。</p>\n");
    return out;
}

QString FlightReport::sortieTable() const
{
    QString out = QStringLiteral("<table>\n<tr><th>架次</th><th>POS文件</th><th>记录</th>"
                                 "<th>开始</th><th>结束</th></tr>\n");
    for (const MatchView::Sortie &s : m_view.sorties) {
        out += QStringLiteral("<tr><td>第%1架次</td><td title=\"%2\">%3</td><td class=\"n\">%4</td>"
                              "<td>%5</td><td>%6</td></tr>\n")
                   .arg(QString::number(s.number), esc(s.file), esc(QFileInfo(s.file).fileName()),
                        QString::number(s.records), esc(s.start), esc(s.end));
    }
    return out + QStringLiteral("</table>\n");
}

QString FlightReport::exceptions() const
{
    QString out;
    for (const QString &name : cameraNames()) {
        const Counts counts = m_counts.value(name);
        const MatchView::Camera c = matchOf(name);
        if (c.missed.isEmpty() && c.extra.isEmpty() && counts.failures.isEmpty() &&
            counts.renamed.isEmpty())
            continue;
        out += QStringLiteral("<div class=\"box\"><b>%1</b>\n").arg(esc(cameraText(name)));
        if (!c.missed.isEmpty())
            out += QStringLiteral("<div>漏拍（POS有记录，本相机无照片）%1张：</div><p>%2</p>\n")
                       .arg(c.missedCount)
                       .arg(runsText(c.missed));
        // A titled list of texts, left out when there is nothing to list.
        const auto section = [&out](const QString &title, const QStringList &texts) {
            if (texts.isEmpty())
                return;
            QStringList items;
            for (const QString &text : texts)
                items << esc(text);
            out += QStringLiteral("<div>%1</div><ul>%2</ul>\n").arg(title, listItems(items));
        };
        section(QStringLiteral("多余照片（没有对应的POS记录，如起飞前的试拍）："), c.extra);
        section(QStringLiteral("传输失败："), counts.failures);
        section(QStringLiteral("改名保存（目标盘不分大小写，同名照片另起名）："), counts.renamed);
        out += QStringLiteral("</div>\n");
    }
    if (!out.isEmpty())
        out.prepend(QStringLiteral("<h2>漏拍、多余照片和失败</h2>\n"));
    return out;
}

QString FlightReport::sortieMap(const MatchView::Sortie &sortie) const
{
    QString head = QStringLiteral("<h2>第%1架次 曝光点</h2>\n").arg(sortie.number);
    if (sortie.number < 1 || sortie.number > m_pos.size())
        return head + QStringLiteral("<p class=\"note\">没有这一架次的POS数据。</p>\n");
    const OffloadPosSet &set = m_pos.at(sortie.number - 1);

    // How many cameras have each record's photo, and which cameras missed it (a bit per camera
    // of the match): a byte or two per record, however long the table.
    const int records = int(set.positions.size());
    std::vector<quint8> have(size_t(records), 0);
    std::vector<quint8> lacking(size_t(records), 0);
    const int cameraCount = int(m_view.cameras.size());
    int firstPaired = records, lastPaired = -1;
    for (int k = 0; k < cameraCount && k < 8; ++k) {
        const MatchView::Camera &c = m_view.cameras.at(k);
        for (const MatchView::Pair &p : c.pairs) {
            if (p.record.sortie == sortie.number && p.record.index >= 0 &&
                p.record.index < records) {
                ++have[size_t(p.record.index)];
                firstPaired = std::min(firstPaired, p.record.index);
                lastPaired = std::max(lastPaired, p.record.index);
            }
        }
        for (const MatchView::Run &r : c.missed) {
            if (r.sortie != sortie.number)
                continue;
            for (int i = std::max(r.from, 0); i <= r.to && i < records; ++i)
                lacking[size_t(i)] |= quint8(1u << k);
        }
    }
    const auto lackingNames = [&](int i) {
        QStringList names;
        for (int k = 0; k < cameraCount && k < 8; ++k) {
            if (lacking[size_t(i)] & (1u << k))
                names << cameraText(m_view.cameras.at(k).name);
        }
        return names;
    };
    // A record some camera lacks is a problem worth its own marker when another camera has it or
    // it lies among the records the cards hold; the records before and after the cards (a table
    // longer than the flight on them) are listed as runs and thinned like the covered ones.
    const auto problem = [&](int i) {
        return lacking[size_t(i)] != 0 &&
               (have[size_t(i)] > 0 || (i > firstPaired && i < lastPaired));
    };

    // The worst quality flag of each record's photos; a flagged record keeps its marker however
    // crowded the map, as a missed one does.
    int firstRecord = 0;
    for (int k = 0; k + 1 < sortie.number; ++k)
        firstRecord += int(m_pos.at(k).positions.size());
    const QHash<int, int> worstFlags = m_quality.worstByExposure();
    const auto worstFlag = [&](int i) { return worstFlags.value(firstRecord + i, 0); };

    // Records without a fix (0, 0) are left off the map and off its extent.
    std::vector<int> shown;
    double minLon = 0, maxLon = 0, minLat = 0, maxLat = 0;
    for (int i = 0; i < records; ++i) {
        const OffloadPosPoint &p = set.positions.at(i);
        if (!std::isfinite(p.x) || !std::isfinite(p.y) || (p.x == 0 && p.y == 0))
            continue;
        if (shown.empty()) {
            minLon = maxLon = p.x;
            minLat = maxLat = p.y;
        }
        minLon = std::min(minLon, p.x);
        maxLon = std::max(maxLon, p.x);
        minLat = std::min(minLat, p.y);
        maxLat = std::max(maxLat, p.y);
        shown.push_back(i);
    }
    if (shown.empty())
        return head + QStringLiteral("<p class=\"note\">这一架次的POS记录没有位置。</p>\n");

    // Equirectangular around the sortie's centre, in metres: true enough over one flight.
    const double metresPerDegree = 6378137.0 * M_PI / 180.0;
    const double lon0 = (minLon + maxLon) / 2;
    const double lat0 = (minLat + maxLat) / 2;
    const double cosLat = std::cos(lat0 * M_PI / 180.0);
    auto east = [&](double lon) { return (lon - lon0) * cosLat * metresPerDegree; };
    auto north = [&](double lat) { return (lat - lat0) * metresPerDegree; };
    const double spanX = std::max(east(maxLon) - east(minLon), 50.0);
    const double spanY = std::max(north(maxLat) - north(minLat), 50.0);
    const double width = 1000, margin = 36, maxPlotHeight = 640, footer = 46;
    const double scale = std::min((width - 2 * margin) / spanX, maxPlotHeight / spanY);
    const double plotHeight = spanY * scale;
    const double height = plotHeight + 2 * margin + footer;
    const double x0 = width / 2, y0 = margin + plotHeight / 2;
    auto px = [&](double lon) { return x0 + east(lon) * scale; };
    auto py = [&](double lat) { return y0 - north(lat) * scale; };

    // What a screen shows: one marker per cell of the map, every problem marker besides.
    const std::vector<int> marked = thinnedMarkers(
        shown, [&](int i) { return QPointF(px(set.positions.at(i).x), py(set.positions.at(i).y)); },
        [&](int i) { return problem(i) || worstFlag(i) != 0; }, MarkerCell);

    QString svg = QStringLiteral("<svg viewBox=\"0 0 %1 %2\" "
                                 "width=\"%1\" height=\"%2\" font-family=\"sans-serif\">\n")
                      .arg(num(width, 0), num(height, 0));
    svg += QStringLiteral("<rect x=\"0\" y=\"0\" width=\"%1\" height=\"%2\" fill=\"#fbfcfd\"/>\n")
               .arg(num(width, 0), num(height, 0));

    // The flight line in record order, its straight stretches drawn as one segment each.
    QString line;
    for (const QPointF &point : simplifiedLine(shown, [&](int i) {
             return QPointF(px(set.positions.at(i).x), py(set.positions.at(i).y));
         }))
        line += QStringLiteral("%1,%2 ").arg(num(point.x(), 1), num(point.y(), 1));
    svg += QStringLiteral("<polyline points=\"%1\" fill=\"none\" stroke=\"#9fb3c8\" "
                          "stroke-width=\"1.2\"/>\n")
               .arg(line.trimmed());

    // Markers shrink as they crowd; rings around the records a camera missed, named while
    // there are few enough to read.
    const double radius = std::clamp(600.0 / std::sqrt(double(marked.size()) + 1), 2.5, 6.0);
    int ringCount = 0;
    for (int i : marked)
        ringCount += problem(i);
    const bool nameRings = ringCount <= 40;
    QString rings;
    for (int i : marked) {
        const OffloadPosPoint &p = set.positions.at(i);
        const QString cx = num(px(p.x), 1), cy = num(py(p.y), 1);
        const QStringList missing = lackingNames(i);
        QString tip = QStringLiteral("第%1条 %2  %3/%4台相机")
                          .arg(i + 1)
                          .arg(timeText(set, i))
                          .arg(have[size_t(i)])
                          .arg(cameraCount);
        if (!missing.isEmpty())
            tip += QStringLiteral("  漏拍：") + missing.join(QStringLiteral("、"));
        svg += QStringLiteral("<circle cx=\"%1\" cy=\"%2\" r=\"%3\" fill=\"%4\"><title>%5</title>"
                              "</circle>\n")
                   .arg(cx, cy, num(radius, 1),
                        QLatin1String(CoverageColours[coverageClass(have[size_t(i)], cameraCount)]),
                        esc(tip));
        if (const int flag = worstFlag(i))
            svg += QStringLiteral("<circle cx=\"%1\" cy=\"%2\" r=\"%3\" fill=\"none\" "
                                  "stroke=\"%4\" stroke-width=\"3\"><title>%5</title></circle>\n")
                       .arg(cx, cy, num(radius + 1.5, 1), QLatin1String(flagColour(flag)),
                            QualityFindings::flagText(flag));
        if (!problem(i))
            continue;
        rings += QStringLiteral("<circle cx=\"%1\" cy=\"%2\" r=\"%3\" fill=\"none\" "
                                "stroke=\"%4\" stroke-width=\"2\"/>\n")
                     .arg(cx, cy, num(radius + 4, 1), QLatin1String(MissedRing));
        if (nameRings) {
            QStringList shortNames;
            for (const QString &camera : missing)
                shortNames << QString(camera).remove(QStringLiteral("相机"));
            // Near the right edge the label goes to the left, so that it is not cut off.
            const bool left = px(p.x) > width - 160;
            rings += QStringLiteral("<text x=\"%1\" y=\"%2\" text-anchor=\"%3\" font-size=\"12\" "
                                    "fill=\"#222\" stroke=\"#fbfcfd\" stroke-width=\"3\" "
                                    "paint-order=\"stroke\">缺%4</text>\n")
                         .arg(num(px(p.x) + (left ? -1 : 1) * (radius + 6), 1),
                              num(py(p.y) + radius + 12, 1),
                              left ? QStringLiteral("end") : QStringLiteral("start"),
                              esc(shortNames.join(QStringLiteral("、"))));
        }
    }
    svg += rings;

    // Start and end of the line.
    const OffloadPosPoint &first = set.positions.at(shown.front());
    const OffloadPosPoint &last = set.positions.at(shown.back());
    svg += QStringLiteral("<text x=\"%1\" y=\"%2\" font-size=\"13\" fill=\"#1b4f72\">起</text>\n")
               .arg(num(px(first.x) + radius + 3, 1), num(py(first.y) - radius - 2, 1));
    svg += QStringLiteral("<text x=\"%1\" y=\"%2\" font-size=\"13\" fill=\"#1b4f72\">终</text>\n")
               .arg(num(px(last.x) + radius + 3, 1), num(py(last.y) - radius - 2, 1));

    // North arrow, bottom right beside the scale bar, clear of the markers.
    const double nx = width - 30, ny = height - 46;
    svg += QStringLiteral("<g><polygon points=\"%1,%2 %3,%4 %1,%5 %6,%4\" fill=\"#333\"/>"
                          "<text x=\"%1\" y=\"%7\" font-size=\"14\" text-anchor=\"middle\" "
                          "fill=\"#333\">N</text></g>\n")
               .arg(num(nx, 1), num(ny + 14, 1), num(nx + 8, 1), num(ny + 40, 1), num(ny + 33, 1),
                    num(nx - 8, 1), num(ny + 10, 1));

    // Scale bar, bottom left: about a fifth of the map's width.
    const double barMetres = niceLength((width - 2 * margin) / 5 / scale);
    const double barPixels = barMetres * scale;
    const double bx = margin, by = height - 22;
    svg += QStringLiteral("<g stroke=\"#333\" stroke-width=\"2\"><line x1=\"%1\" y1=\"%2\" "
                          "x2=\"%3\" y2=\"%2\"/><line x1=\"%1\" y1=\"%4\" x2=\"%1\" y2=\"%2\"/>"
                          "<line x1=\"%3\" y1=\"%4\" x2=\"%3\" y2=\"%2\"/></g>\n")
               .arg(num(bx, 1), num(by, 1), num(bx + barPixels, 1), num(by - 7, 1));
    svg += QStringLiteral("<text x=\"%1\" y=\"%2\" font-size=\"13\" fill=\"#333\">%3</text>\n")
               .arg(num(bx + barPixels + 8, 1), num(by + 4, 1), lengthText(barMetres));
    svg += QStringLiteral("</svg>\n");

    int allThere = 0;
    int withMissing = 0;
    for (int i = 0; i < records; ++i) {
        allThere += cameraCount > 0 && have[size_t(i)] >= cameraCount;
        withMissing += lacking[size_t(i)] != 0;
    }
    QString legend = QStringLiteral("<div class=\"legend\">");
    const QString labels[4] = {QStringLiteral("全部相机都有照片"), QStringLiteral("缺一台相机"),
                               QStringLiteral("缺两台及以上"), QStringLiteral("没有照片")};
    for (int k = 0; k < 4; ++k)
        legend += QStringLiteral("<span><i class=\"dot\" style=\"background:%1\"></i>%2</span>")
                      .arg(QLatin1String(CoverageColours[k]), labels[k]);
    legend += QStringLiteral("<span><i class=\"ring\"></i>漏拍</span>");
    QSet<int> flagsShown;
    for (int i : marked) {
        if (worstFlag(i))
            flagsShown.insert(worstFlag(i));
    }
    for (int rank = 0; rank < QualityFindings::FlagCount; ++rank) {
        const int flag = QualityFindings::flagAt(rank);
        if (flagsShown.contains(flag))
            legend += QStringLiteral("<span><i class=\"qring\" style=\"border-color:%1\"></i>%2</span>")
                          .arg(QLatin1String(flagColour(flag)), QualityFindings::flagText(flag));
    }
    legend += QStringLiteral("<br/>%1条记录，%2条全部相机都有照片，%3条有漏拍。"
                             "鼠标停在点上可看记录号、时间和漏拍的相机。")
                  .arg(records)
                  .arg(allThere)
                  .arg(withMissing);
    if (marked.size() < shown.size())
        legend += QStringLiteral("点太密处只画其中一个，共画出%1个点；漏拍和影像有问题的点全部画出。")
                      .arg(marked.size());
    legend += QStringLiteral("</div>\n");
    return head + QStringLiteral("<div class=\"map\">\n") + svg + legend +
           QStringLiteral("</div>\n");
}
