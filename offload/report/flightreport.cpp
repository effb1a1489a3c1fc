#include "flightreport.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSaveFile>

#include "cameranames.h"
#include "cameras.h"

namespace {

QJsonObject countsObject(const FlightReport::Counts &c)
{
    QJsonObject o{{QStringLiteral("onCard"), c.onCard},
                  {QStringLiteral("copied"), c.copied},
                  {QStringLiteral("verified"), c.verified},
                  {QStringLiteral("failed"), c.failed},
                  {QStringLiteral("failures"), QJsonArray::fromStringList(c.failures)}};
    if (!c.renamed.isEmpty())
        o.insert(QStringLiteral("renamed"), QJsonArray::fromStringList(c.renamed));
    return o;
}

bool save(const QString &path, const QByteArray &bytes, QString *error)
{
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit())
        return true;
    *error = QStringLiteral("cannot write %1: %2").arg(path, file.errorString());
    return false;
}

} // namespace

QString FlightReport::jsonFileName()
{
    return QStringLiteral("offload-report.json");
}

QString FlightReport::htmlFileName()
{
    return QStringLiteral("offload-report.html");
}

QString FlightReport::cameraText(const QString &cameraName)
{
    const int camera = Cameras::byFolderName(cameraName.toLatin1().constData());
    return camera < 0 ? cameraName : QString::fromUtf8(Cameras::operatorName(camera));
}

FlightReport::FlightReport(const QJsonObject &match, const QList<OffloadPosSet> &pos)
    : m_match(match)
    , m_view(MatchView::read(match))
    , m_pos(pos)
{}

void FlightReport::setCounts(const QString &cameraName, const Counts &counts)
{
    if (!m_counts.contains(cameraName))
        m_countOrder.append(cameraName);
    m_counts.insert(cameraName, counts);
}

void FlightReport::setQuality(const QualityFindings &findings)
{
    m_looked = true;
    m_quality = findings;
}

QJsonObject FlightReport::json() const
{
    QJsonObject out = m_match;
    QJsonArray cameras = m_match.value(QLatin1String("cameras")).toArray();
    QStringList seen;
    for (int i = 0; i < cameras.size(); ++i) {
        QJsonObject camera = cameras.at(i).toObject();
        const QString name = camera.value(QLatin1String("camera")).toString();
        seen << name;
        if (!m_counts.contains(name))
            continue;
        const QJsonObject counts = countsObject(m_counts.value(name));
        for (auto it = counts.begin(); it != counts.end(); ++it)
            camera.insert(it.key(), it.value());
        cameras.replace(i, camera);
    }
    // A camera that was copied but is not in the match still shows its counts.
    for (const QString &name : m_countOrder) {
        if (seen.contains(name))
            continue;
        QJsonObject camera = countsObject(m_counts.value(name));
        camera.insert(QStringLiteral("camera"), name);
        cameras.append(camera);
    }
    out.insert(QStringLiteral("cameras"), cameras);
    if (!m_target.isEmpty())
        out.insert(QStringLiteral("target"), m_target);
    if (m_looked)
        out.insert(QStringLiteral("quality"), m_quality.json());
    return out;
}

QString FlightReport::exportsNeedPlainText()
{
    return QStringLiteral("照片已打包分卷，未生成CSV和geo.txt文件，需要时请不分卷重新传输。");
}

QString FlightReport::noHardLinksText(bool cameraPrefix)
{
    if (cameraPrefix)
        return QStringLiteral("目标盘不支持硬链接，未生成ODM工程文件夹，请用geo.txt和照片自行建立。");
    return QStringLiteral("目标盘不支持硬链接，未生成ODM工程文件夹，请勾选“照片名加相机名”后重新传输。");
}

QString FlightReport::summary() const
{
    QStringList lines;
    int missed = 0;
    int extra = 0;
    for (const MatchView::Camera &c : m_view.cameras) {
        const Counts counts = m_counts.value(c.name);
        QString line = QStringLiteral("%1：复制%2张").arg(cameraText(c.name)).arg(counts.copied);
        if (counts.failed > 0)
            line += QStringLiteral("，失败%1张").arg(counts.failed);
        if (!m_view.sorties.isEmpty()) {
            line += QStringLiteral("，对应POS%1张").arg(c.matched);
            if (c.missedCount > 0)
                line += QStringLiteral("，漏拍%1张").arg(c.missedCount);
            if (!c.extra.isEmpty())
                line += QStringLiteral("，多余%1张").arg(c.extra.size());
        }
        missed += c.missedCount;
        extra += int(c.extra.size());
        lines << line;
    }
    if (m_view.sorties.isEmpty())
        lines.prepend(QStringLiteral("传输报告（未添加POS文件）"));
    else if (missed == 0 && extra == 0)
        lines.prepend(QStringLiteral("传输报告：照片与POS记录一一对应"));
    else
        lines.prepend(
            QStringLiteral("传输报告：漏拍%1张，多余%2张，请查看报告").arg(missed).arg(extra));
    if (m_looked)
        lines << m_quality.summaryLines();
    lines << m_notes;
    return lines.join(QLatin1Char('\n'));
}

bool FlightReport::write(const QString &folder, QString *error) const
{
    const QDir dir(folder);
    return save(dir.filePath(jsonFileName()), QJsonDocument(json()).toJson(), error) &&
           save(dir.filePath(htmlFileName()), html().toUtf8(), error);
}
