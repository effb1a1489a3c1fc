// The quality section of the flight report: each camera's counts of flagged photos, the
// thresholds, the worst examples as small thumbnails inside the page, and the flagged photos.
#include "flightreport.h"

#include "cameranames.h"

namespace {

QString esc(const QString &text)
{
    return text.toHtmlEscaped();
}

const int MaxFlaggedListed = 200; // a camera with its cap on flags every photo of the flight

QString measureText(const QualityFindings::Photo &p, int flag)
{
    switch (flag) {
    case QualityFindings::Damaged:
        return p.error;
    case QualityFindings::Dark:
    case QualityFindings::Bright:
        return QStringLiteral("平均灰度%1").arg(QString::number(p.mean, 'f', 0));
    case QualityFindings::Blurred:
        return QStringLiteral("清晰度%1").arg(QString::number(p.sharpness, 'f', 3));
    case QualityFindings::DarkerThanOthers:
        return QStringLiteral("平均灰度%1，其他相机%2")
            .arg(QString::number(p.mean, 'f', 0), QString::number(p.othersMean, 'f', 0));
    case QualityFindings::BlurrierThanOthers:
        return QStringLiteral("清晰度%1，其他相机%2")
            .arg(QString::number(p.sharpness, 'f', 3), QString::number(p.othersSharpness, 'f', 3));
    case QualityFindings::Repeated:
        return QStringLiteral("同%1").arg(p.repeats.section(QLatin1Char('/'), -1));
    }
    return QString();
}

} // namespace

const char *FlightReport::flagColour(int flag)
{
    switch (flag) {
    case QualityFindings::Damaged:
        return "#000000";
    case QualityFindings::Dark:
        return "#1f3a93";
    case QualityFindings::Bright:
        return "#e0b000";
    case QualityFindings::Blurred:
        return "#c2185b";
    case QualityFindings::Repeated:
        return "#00a3b4";
    case QualityFindings::DarkerThanOthers:
        return "#6c7fd8";
    case QualityFindings::BlurrierThanOthers:
        return "#e57fb0";
    }
    return "#888888";
}

QString FlightReport::qualitySection() const
{
    QString out = QStringLiteral("<h2>影像质量</h2>\n");
    if (m_quality.empty())
        return out + QStringLiteral("<p class=\"note\">没有检查照片。</p>\n");
    const QualityFindings &q = m_quality;
    out += QStringLiteral("<div class=\"verdict %1\">%2</div>\n")
               .arg(q.flaggedCount() ? QStringLiteral("warn") : QStringLiteral("ok"),
                    esc(q.summaryLines().first()));
    out += QStringLiteral("<table>\n<tr><th>相机</th><th>已检查</th>");
    for (int rank = 0; rank < QualityFindings::FlagCount; ++rank)
        out += QStringLiteral("<th>%1</th>")
                   .arg(QualityFindings::flagText(QualityFindings::flagAt(rank)));
    out += QStringLiteral("</tr>\n");
    for (int camera : Cameras::MatchOrder) {
        const QualityFindings::Camera &c = q.camera(camera);
        if (!c.looked)
            continue;
        out += QStringLiteral("<tr><td>%1</td><td class=\"n\">%2</td>")
                   .arg(esc(QString::fromUtf8(Cameras::operatorName(camera))))
                   .arg(c.looked);
        for (int rank = 0; rank < QualityFindings::FlagCount; ++rank)
            out += QStringLiteral("<td class=\"n%1\">%2</td>")
                       .arg(c.counts[rank] ? QStringLiteral(" bad") : QString())
                       .arg(c.counts[rank]);
        out += QStringLiteral("</tr>\n");
    }
    out += QStringLiteral("</table>\n");

    // The worst of each flag, small enough that the page stays a few hundred kilobytes.
    QString examples;
    for (int rank = 0; rank < QualityFindings::FlagCount; ++rank) {
        const int flag = QualityFindings::flagAt(rank);
        const QList<int> worst = q.examples(flag, 4);
        if (worst.isEmpty())
            continue;
        examples += QStringLiteral("<div class=\"shots\"><b style=\"color:%1\">%2</b><br/>")
                        .arg(QLatin1String(flagColour(flag)), QualityFindings::flagText(flag));
        for (int k : worst) {
            const QualityFindings::Photo &p = q.flagged().at(k);
            const QString caption =
                QStringLiteral("%1 %2").arg(QString::fromUtf8(Cameras::operatorName(p.camera)),
                                            p.path.section(QLatin1Char('/'), -1));
            examples += QStringLiteral("<figure>");
            if (!p.thumbnail.isEmpty())
                examples += QStringLiteral("<img alt=\"%1\" src=\"data:image/jpeg;base64,%2\"/>")
                                .arg(esc(caption), QString::fromLatin1(p.thumbnail.toBase64()));
            examples += QStringLiteral("<figcaption title=\"%1\">%2<br/>%3</figcaption></figure>")
                            .arg(esc(p.path), esc(caption), esc(measureText(p, flag)));
        }
        examples += QStringLiteral("</div>\n");
    }
    if (!examples.isEmpty())
        out += QStringLiteral("<div>最差的几张：</div>\n") + examples;

    QStringList items;
    for (const QualityFindings::Photo &p : q.flagged()) {
        QStringList flags;
        for (int rank = 0; rank < QualityFindings::FlagCount; ++rank) {
            if (p.flags & QualityFindings::flagAt(rank))
                flags << QualityFindings::flagText(QualityFindings::flagAt(rank));
        }
        items << QStringLiteral("%1：%2").arg(esc(p.path), flags.join(QStringLiteral("、")));
    }
    if (!items.isEmpty()) {
        out += QStringLiteral("<div class=\"box\"><div>有问题的照片：</div><ul>");
        for (int k = 0; k < items.size() && k < MaxFlaggedListed; ++k)
            out += QStringLiteral("<li>%1</li>").arg(items.at(k));
        if (items.size() > MaxFlaggedListed)
            out += QStringLiteral("<li>……另有%1张，见 offload-report.json</li>")
                       .arg(items.size() - MaxFlaggedListed);
        out += QStringLiteral("</ul></div>\n");
    }
    out += QStringLiteral("<p class=\"note\">判断标准：");
    QStringList rules;
    for (const auto &[name, rule] : QualityFindings::thresholdTexts())
        rules << QStringLiteral("%1：%2").arg(name, esc(rule));
    out += rules.join(QStringLiteral("；")) + QStringLiteral("。</p>\n");
    return out;
}
