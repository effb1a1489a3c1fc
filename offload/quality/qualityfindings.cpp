#include "qualityfindings.h"

#include <QHash>
#include <QJsonArray>

#include <algorithm>
#include <cmath>
#include <map>

#include "cameranames.h"
#include "qualitythresholds.h"

namespace {

int rankOf(int flag)
{
    for (int rank = 0; rank < QualityFindings::FlagCount; ++rank) {
        if (QualityFindings::flagAt(rank) == flag)
            return rank;
    }
    return -1;
}

float median(std::vector<float> values)
{
    if (values.empty())
        return -1;
    const size_t middle = values.size() / 2;
    std::nth_element(values.begin(), values.begin() + long(middle), values.end());
    float m = values[middle];
    if (values.size() % 2 == 0) {
        const float below = *std::max_element(values.begin(), values.begin() + long(middle));
        m = (m + below) / 2;
    }
    return m;
}

QString number(double value, int decimals)
{
    return QString::number(value, 'f', decimals);
}

} // namespace

QString QualityFindings::flagKey(int flag)
{
    switch (flag) {
    case Damaged:
        return QStringLiteral("damaged");
    case Dark:
        return QStringLiteral("dark");
    case Bright:
        return QStringLiteral("bright");
    case Blurred:
        return QStringLiteral("blurred");
    case Repeated:
        return QStringLiteral("repeated");
    case DarkerThanOthers:
        return QStringLiteral("darkerThanOthers");
    case BlurrierThanOthers:
        return QStringLiteral("blurrierThanOthers");
    }
    return QString();
}

QString QualityFindings::flagText(int flag)
{
    switch (flag) {
    case Damaged:
        return QStringLiteral("无法解码");
    case Dark:
        return QStringLiteral("偏暗");
    case Bright:
        return QStringLiteral("过亮");
    case Blurred:
        return QStringLiteral("模糊");
    case Repeated:
        return QStringLiteral("重复帧");
    case DarkerThanOthers:
        return QStringLiteral("比其他相机暗");
    case BlurrierThanOthers:
        return QStringLiteral("比其他相机模糊");
    }
    return QString();
}

QualityFindings QualityFindings::judge(std::vector<LookedPhoto> photos)
{
    using namespace QualityThresholds;
    // Camera by camera in photo order; of a photo given twice (looked at again by a resume) the
    // last stays.
    std::stable_sort(photos.begin(), photos.end(), [](const LookedPhoto &a, const LookedPhoto &b) {
        return a.camera != b.camera ? a.camera < b.camera : a.index < b.index;
    });
    std::vector<LookedPhoto> unique;
    for (LookedPhoto &p : photos) {
        if (p.camera < 0 || p.camera >= Cameras::Count)
            continue;
        if (!unique.empty() && unique.back().camera == p.camera && unique.back().index == p.index)
            unique.back() = std::move(p);
        else
            unique.push_back(std::move(p));
    }

    std::vector<Photo> judged(unique.size());
    for (size_t k = 0; k < unique.size(); ++k) {
        const LookedPhoto &p = unique[k];
        const PhotoMeasure &m = p.measure;
        Photo &j = judged[k];
        j.camera = p.camera;
        j.index = p.index;
        j.exposure = p.exposure;
        j.path = p.path;
        j.mean = m.mean;
        j.darkShare = m.darkShare;
        j.brightShare = m.brightShare;
        j.sharpness = m.sharpness;
        j.hash = m.hash;
        j.error = m.error;
        if (!m.decoded) {
            j.flags |= Damaged;
            continue;
        }
        if (m.mean < DarkMean || m.darkShare > DarkShare)
            j.flags |= Dark;
        if (m.mean > BrightMean || m.brightShare > BrightShare)
            j.flags |= Bright;
        if (m.sharpness >= 0 && m.sharpness < BlurSharpness)
            j.flags |= Blurred;
        // A frozen sensor hands over the same picture again; a uniform field (a lens cap, fog)
        // looks like the one before without being repeated, and is told by its brightness.
        if (k > 0 && unique[k - 1].camera == p.camera && unique[k - 1].measure.decoded &&
            m.contrast >= MinContrast && unique[k - 1].measure.contrast >= MinContrast &&
            PhotoLook::hashDistance(m.hash, unique[k - 1].measure.hash) <= RepeatedHashBits &&
            PhotoLook::gridDifference(m, unique[k - 1].measure) <= RepeatedCellDiff) {
            j.flags |= Repeated;
            j.repeats = unique[k - 1].path;
        }
    }

    // The five lenses see the same ground at the same instant: a lens far darker or blurrier
    // than the others over the same exposures is wrong even where each photo passes alone.
    std::map<int, std::vector<size_t>> exposures;
    for (size_t k = 0; k < judged.size(); ++k) {
        if (judged[k].exposure >= 0 && !(judged[k].flags & Damaged))
            exposures[judged[k].exposure].push_back(k);
    }
    for (const auto &[exposure, members] : exposures) {
        if (int(members.size()) < MinOthers + 1)
            continue;
        for (size_t k : members) {
            std::vector<float> means, sharpness;
            for (size_t other : members) {
                if (other == k)
                    continue;
                means.push_back(judged[other].mean);
                if (judged[other].sharpness >= 0)
                    sharpness.push_back(judged[other].sharpness);
            }
            Photo &j = judged[k];
            j.othersMean = median(means);
            if (int(sharpness.size()) >= MinOthers)
                j.othersSharpness = median(sharpness);
            if (!(j.flags & Dark) && j.othersMean >= DarkMean &&
                j.mean < RelativeDark * j.othersMean)
                j.flags |= DarkerThanOthers;
            if (!(j.flags & Blurred) && j.sharpness >= 0 && j.othersSharpness > 0 &&
                j.sharpness < RelativeBlur * j.othersSharpness)
                j.flags |= BlurrierThanOthers;
        }
    }

    QualityFindings findings;
    findings.m_looked = int(judged.size());
    for (Photo &j : judged) {
        Camera &c = findings.m_cameras[j.camera];
        ++c.looked;
        if (!j.flags)
            continue;
        ++c.flagged;
        for (int rank = 0; rank < FlagCount; ++rank)
            c.counts[rank] += (j.flags & flagAt(rank)) ? 1 : 0;
        findings.m_flagged.append(std::move(j));
    }
    return findings;
}

QList<int> QualityFindings::examples(int flag, int most) const
{
    QList<int> chosen;
    for (int k = 0; k < m_flagged.size(); ++k) {
        if (m_flagged.at(k).flags & flag)
            chosen << k;
    }
    // How far each is from what it should be: the darkest, the brightest, the least sharp,
    // the farthest below the other lenses; repeated and damaged frames in their order.
    const auto badness = [this, flag](int k) -> double {
        const Photo &p = m_flagged.at(k);
        switch (flag) {
        case Dark:
            return -p.mean;
        case Bright:
            return p.mean;
        case Blurred:
            return -p.sharpness;
        case DarkerThanOthers:
            return p.othersMean > 0 ? -p.mean / p.othersMean : 0;
        case BlurrierThanOthers:
            return p.othersSharpness > 0 ? -p.sharpness / p.othersSharpness : 0;
        }
        return 0;
    };
    std::stable_sort(chosen.begin(), chosen.end(),
                     [&](int a, int b) { return badness(a) > badness(b); });
    return chosen.mid(0, most);
}

QHash<int, int> QualityFindings::worstByExposure() const
{
    QHash<int, int> worst;
    for (const Photo &p : m_flagged) {
        if (p.exposure < 0)
            continue;
        int flag = 0;
        for (int rank = FlagCount - 1; rank >= 0; --rank) {
            if (p.flags & flagAt(rank))
                flag = flagAt(rank);
        }
        const int known = worst.value(p.exposure, 0);
        if (!known || rankOf(flag) < rankOf(known))
            worst.insert(p.exposure, flag);
    }
    return worst;
}

QList<QPair<QString, QString>> QualityFindings::thresholdTexts()
{
    using namespace QualityThresholds;
    return {
        {QStringLiteral("偏暗"), QStringLiteral("平均灰度低于%1，或%2%以上的像素灰度不高于%3")
                                     .arg(number(DarkMean, 0), number(DarkShare * 100, 0))
                                     .arg(ClipDark)},
        {QStringLiteral("过亮"), QStringLiteral("平均灰度高于%1，或%2%以上的像素灰度不低于%3")
                                     .arg(number(BrightMean, 0), number(BrightShare * 100, 0))
                                     .arg(ClipBright)},
        {QStringLiteral("模糊"),
         QStringLiteral("拉普拉斯方差与灰度方差之比低于%1（灰度标准差低于%2的均匀画面不判断）")
             .arg(number(BlurSharpness, 3), number(MinContrast, 0))},
        {QStringLiteral("重复帧"),
         QStringLiteral("与前一张的64位均值哈希相差不超过%1位，且16×16网格灰度相差不超过%2")
             .arg(RepeatedHashBits)
             .arg(number(RepeatedCellDiff, 0))},
        {QStringLiteral("比其他相机暗"),
         QStringLiteral("平均灰度低于同一曝光其他相机（至少%1台）中位数的%2%")
             .arg(MinOthers)
             .arg(number(RelativeDark * 100, 0))},
        {QStringLiteral("比其他相机模糊"),
         QStringLiteral("清晰度低于同一曝光其他相机（至少%1台）中位数的%2%")
             .arg(MinOthers)
             .arg(number(RelativeBlur * 100, 0))},
        {QStringLiteral("检查尺度"),
         QStringLiteral("按1/8缩小解码（长边不少于%1像素）").arg(MinLongSide)},
    };
}

QJsonObject QualityFindings::json() const
{
    using namespace QualityThresholds;
    const QJsonObject thresholds{
        {QStringLiteral("minLongSide"), MinLongSide},
        {QStringLiteral("clipDark"), ClipDark},
        {QStringLiteral("clipBright"), ClipBright},
        {QStringLiteral("darkMean"), DarkMean},
        {QStringLiteral("darkShare"), DarkShare},
        {QStringLiteral("brightMean"), BrightMean},
        {QStringLiteral("brightShare"), BrightShare},
        {QStringLiteral("minContrast"), MinContrast},
        {QStringLiteral("blurSharpness"), BlurSharpness},
        {QStringLiteral("minOthers"), MinOthers},
        {QStringLiteral("relativeDark"), RelativeDark},
        {QStringLiteral("relativeBlur"), RelativeBlur},
        {QStringLiteral("repeatedHashBits"), RepeatedHashBits},
        {QStringLiteral("repeatedCellDiff"), RepeatedCellDiff},
    };
    QJsonArray cameras;
    for (int camera : Cameras::MatchOrder) {
        const Camera &c = m_cameras[camera];
        if (!c.looked)
            continue;
        QJsonObject o{{QStringLiteral("camera"), QLatin1String(Cameras::folderName(camera))},
                      {QStringLiteral("looked"), c.looked},
                      {QStringLiteral("flagged"), c.flagged}};
        for (int rank = 0; rank < FlagCount; ++rank)
            o.insert(flagKey(flagAt(rank)), c.counts[rank]);
        cameras.append(o);
    }
    QJsonArray photos;
    for (const Photo &p : m_flagged) {
        QJsonArray flags;
        for (int rank = 0; rank < FlagCount; ++rank) {
            if (p.flags & flagAt(rank))
                flags.append(flagKey(flagAt(rank)));
        }
        QJsonObject o{{QStringLiteral("camera"), QLatin1String(Cameras::folderName(p.camera))},
                      {QStringLiteral("photo"), p.path},
                      {QStringLiteral("flags"), flags}};
        if (p.exposure >= 0)
            o.insert(QStringLiteral("exposure"), p.exposure);
        if (p.flags & Damaged) {
            o.insert(QStringLiteral("error"), p.error);
        } else {
            o.insert(QStringLiteral("mean"), std::round(p.mean * 10) / 10);
            o.insert(QStringLiteral("darkShare"), std::round(p.darkShare * 1000) / 1000);
            o.insert(QStringLiteral("brightShare"), std::round(p.brightShare * 1000) / 1000);
            o.insert(QStringLiteral("sharpness"),
                     p.sharpness < 0 ? QJsonValue()
                                     : QJsonValue(std::round(p.sharpness * 10000) / 10000));
            o.insert(QStringLiteral("hash"),
                     QStringLiteral("%1").arg(p.hash, 16, 16, QLatin1Char('0')));
        }
        if (p.othersMean >= 0)
            o.insert(QStringLiteral("othersMean"), std::round(p.othersMean * 10) / 10);
        if (p.othersSharpness >= 0)
            o.insert(QStringLiteral("othersSharpness"),
                     std::round(p.othersSharpness * 10000) / 10000);
        if (!p.repeats.isEmpty())
            o.insert(QStringLiteral("repeats"), p.repeats);
        photos.append(o);
    }
    return QJsonObject{{QStringLiteral("looked"), m_looked},
                       {QStringLiteral("flagged"), int(m_flagged.size())},
                       {QStringLiteral("thresholds"), thresholds},
                       {QStringLiteral("cameras"), cameras},
                       {QStringLiteral("photos"), photos}};
}

QStringList QualityFindings::summaryLines() const
{
    if (m_flagged.isEmpty())
        return {QStringLiteral("影像质量：检查%1张，未发现问题").arg(m_looked)};
    QStringList lines{QStringLiteral("影像质量：检查%1张，%2张有问题，请查看报告")
                          .arg(m_looked)
                          .arg(m_flagged.size())};
    // The operator's words: a photo darker than the other lenses' is dark to them, a blurrier
    // one blurred; the report tells the two apart.
    const struct
    {
        int flags;
        const char16_t *text;
    } kinds[] = {{Dark | DarkerThanOthers, u"偏暗"},
                 {Bright, u"过亮"},
                 {Blurred | BlurrierThanOthers, u"模糊"},
                 {Repeated, u"重复帧"},
                 {Damaged, u"无法解码"}};
    for (int camera : Cameras::MatchOrder) {
        const Camera &c = m_cameras[camera];
        if (!c.flagged)
            continue;
        QStringList parts;
        for (const auto &kind : kinds) {
            int count = 0;
            for (int rank = 0; rank < FlagCount; ++rank)
                count += (kind.flags & flagAt(rank)) ? c.counts[rank] : 0;
            if (count)
                parts << QStringLiteral("%1 张%2").arg(count).arg(QString::fromUtf16(kind.text));
        }
        lines << QString::fromUtf8(Cameras::operatorName(camera)) + QLatin1Char(' ') +
                     parts.join(QStringLiteral("，"));
    }
    return lines;
}
