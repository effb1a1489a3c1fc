#include "offloadplan.h"

#include "phototagstep.h"
#include "posspreadsheet.h"

void OffloadPlan::select(int camera, const QString &folder, int files)
{
    if (selected(camera))
        deselect(camera);
    m_sources[camera] = folder;
    m_counts[camera] = files;
    m_done[camera] = 0;
    m_plannedTotal += files;
    m_lines.append({camera, QString(), QStringLiteral("%1共%2张").arg(folder).arg(files)});
}

void OffloadPlan::deselect(int camera)
{
    if (!selected(camera))
        return;
    m_plannedTotal -= m_counts[camera];
    m_sources[camera].clear();
    m_counts[camera] = 0;
    m_done[camera] = 0;
    removeLines(camera, QString());
}

bool OffloadPlan::isSetUp() const
{
    for (const QString &source : m_sources) {
        if (!source.isEmpty())
            return true;
    }
    return false;
}

int OffloadPlan::doneTotal() const
{
    int total = 0;
    for (int done : m_done)
        total += done;
    return total;
}

void OffloadPlan::removeLines(int camera, const QString &posPath)
{
    m_lines.erase(std::remove_if(m_lines.begin(), m_lines.end(),
                                 [&](const Line &line) {
                                     return line.camera == camera && line.posPath == posPath;
                                 }),
                  m_lines.end());
}

void OffloadPlan::posReading(const QString &path)
{
    m_refused.remove(path);
    removeLines(-1, path);
    m_lines.append({-1, path, QStringLiteral("正在读取") + path});
}

bool OffloadPlan::holdsPos(const QString &path) const
{
    return m_posPaths.contains(path);
}

bool OffloadPlan::posRead(const MyExcelObject &object)
{
    if (holdsPos(object.filePath))
        return true;
    if (object.posList.isEmpty()) {
        if (!m_refused.contains(object.filePath))
            posAbandoned(object.filePath);
        return false;
    }
    m_posPaths << object.filePath;
    m_pos << PhotoTagStep::posSet(object);
    for (Line &line : m_lines) {
        if (line.camera == -1 && line.posPath == object.filePath)
            line.text = QStringLiteral("%1   POS个数%2添加成功 ")
                            .arg(object.filePath)
                            .arg(object.count - 1);
    }
    return true;
}

void OffloadPlan::posRefused(const QString &path, const QString &message)
{
    if (holdsPos(path))
        return;
    m_refused.insert(path, message);
    removeLines(-1, path);
    m_lines.append({-1, path, QStringLiteral("POS文件读取失败：") + message});
}

QString OffloadPlan::posRefusal() const
{
    for (const Line &line : m_lines) {
        if (line.camera == -1 && m_refused.contains(line.posPath))
            return m_refused.value(line.posPath);
    }
    return QString();
}

bool OffloadPlan::posPending() const
{
    for (const Line &line : m_lines) {
        if (line.camera == -1 && !holdsPos(line.posPath) && !m_refused.contains(line.posPath))
            return true;
    }
    return false;
}

void OffloadPlan::posAbandoned(const QString &path)
{
    if (!holdsPos(path))
        removeLines(-1, path);
}

void OffloadPlan::cancelPos()
{
    m_lines.erase(std::remove_if(m_lines.begin(), m_lines.end(),
                                 [](const Line &line) { return line.camera == -1; }),
                  m_lines.end());
    m_posPaths.clear();
    m_pos.clear();
    m_refused.clear();
}

QStringList OffloadPlan::posPaths() const
{
    return m_posPaths;
}

QString OffloadPlan::text() const
{
    QString text;
    for (const Line &line : m_lines)
        text += line.text + QLatin1Char('\n');
    return text;
}

OffloadSession::Setup OffloadPlan::setup() const
{
    OffloadSession::Setup s;
    for (int camera = 0; camera < Cameras::Count; ++camera)
        s.sources[camera] = m_sources[camera];
    s.target = target;
    s.backup = backup;
    s.pos = m_pos;
    s.splitSorties = splitSorties;
    s.volumes = volumes;
    const double size = volumeText.toDouble();
    // The engine takes the size in GB; "Taskconfig.xml" keeps the text and its unit.
    s.volumeGb = unit == QLatin1String("GB") ? size : size / 1024.0;
    s.volumeText = volumeText;
    s.volumeUnit = unit == QLatin1String("MB") ? unit : QStringLiteral("GB");
    s.password = password;
    s.passwordText = passwordText;
    return s;
}

QString OffloadPlan::speedText(double bytesPerSecond)
{
    return QStringLiteral("%1M/s").arg(bytesPerSecond / 1048576.0, 0, 'f', 1);
}

QString OffloadPlan::timeLeftText(qint64 seconds)
{
    if (seconds < 0)
        return QStringLiteral("剩余时间：计算中");
    if (seconds >= 3600)
        return QStringLiteral("剩余时间：约%1小时%2分")
            .arg(seconds / 3600)
            .arg(seconds % 3600 / 60, 2, 10, QLatin1Char('0'));
    if (seconds >= 60)
        return QStringLiteral("剩余时间：约%1分%2秒")
            .arg(seconds / 60)
            .arg(seconds % 60, 2, 10, QLatin1Char('0'));
    return QStringLiteral("剩余时间：约%1秒").arg(seconds);
}

QString OffloadPlan::problemLines(const OffloadRun::Camera &camera)
{
    QString text;
    for (const QString &file : camera.failedShown)
        text += QStringLiteral("  未能传输：") + file + QLatin1Char('\n');
    for (const QString &file : camera.skippedShown)
        text += QStringLiteral("  已跳过：") + file + QLatin1Char('\n');
    return text;
}

OffloadPlan::Reading OffloadPlan::read(const OffloadRun::Progress &progress)
{
    Reading r;
    for (int camera : IconOrder) {
        if (!selected(camera))
            continue;
        const OffloadRun::Camera &c = progress.cameras[camera];
        if (c.takesPart) {
            m_done[camera] = c.filesDone;
            // The engine's list is the truth once it is built; the card may have changed.
            m_counts[camera] = c.fileCount;
        }
        QString line = QStringLiteral("%1共%2张,已传%3张")
                           .arg(m_sources[camera])
                           .arg(m_counts[camera])
                           .arg(m_done[camera]);
        if (c.failed)
            line += QStringLiteral("  出错：") + c.errorShown;
        r.text += line + QLatin1Char('\n');
        r.text += problemLines(c);
    }
    m_plannedTotal = 0;
    for (int count : m_counts)
        m_plannedTotal += count;
    r.value = doneTotal();
    r.maximum = m_plannedTotal;
    r.speed = speedText(progress.bytesPerSecond);
    r.timeLeft = timeLeftText(progress.secondsLeft);
    r.complete = progress.complete && r.value == r.maximum;
    r.halted = progress.halted;
    if (progress.verifiedFound > 0)
        r.text += QStringLiteral("目标目录已有%1个校验无误的副本,已跳过\n").arg(progress.verifiedFound);
    if (progress.backupIncomplete)
        r.text += progress.backupShown + QLatin1Char('\n');
    if (r.complete) {
        r.text += QStringLiteral("传输已完成");
        r.timeLeft.clear();
    }
    return r;
}

void OffloadPlan::adopt(const TaskConfig &config)
{
    reset();
    for (int camera = 0; camera < Cameras::Count; ++camera) {
        const TaskConfig::Camera &c = config.cameras[camera];
        m_sources[camera] = c.path;
        if (c.path.isEmpty())
            continue;
        m_counts[camera] = c.planCount;
        m_done[camera] = c.hasCount;
        m_plannedTotal += c.planCount;
    }
    target = config.savePath;
    m_pos = config.pos;
    for (const OffloadPosSet &set : config.pos)
        m_posPaths << set.filePath;
    splitSorties = config.splitSorties;
    volumes = config.volumes;
    volumeText = config.volumeValue;
    unit = config.volumeUnit;
    password = config.password;
    passwordText = config.passwordValue;
    resumed = true;
}

TaskConfig OffloadPlan::taskConfig(const TaskConfig &engine) const
{
    TaskConfig config;
    for (int camera = 0; camera < Cameras::Count; ++camera) {
        TaskConfig::Camera &c = config.cameras[camera];
        c.path = m_sources[camera];
        if (c.path.isEmpty())
            continue;
        c.planCount = m_counts[camera];
        c.hasCount = m_done[camera];
        c.zipPath = engine.cameras[camera].zipPath;
        c.zipName = engine.cameras[camera].zipName;
    }
    const OffloadSession::Setup s = setup();
    config.savePath = target;
    config.pos = m_pos;
    config.splitSorties = splitSorties;
    config.volumes = volumes;
    config.volumeValue = volumes ? s.volumeText : QString();
    config.volumeUnit = s.volumeUnit;
    config.password = password;
    config.passwordValue = password ? passwordText : QString();
    config.success = TaskConfig::successFlag(m_plannedTotal, doneTotal());
    return config;
}

void OffloadPlan::reset()
{
    for (int camera = 0; camera < Cameras::Count; ++camera) {
        m_sources[camera].clear();
        m_counts[camera] = 0;
        m_done[camera] = 0;
    }
    m_plannedTotal = 0;
    m_lines.clear();
    m_posPaths.clear();
    m_pos.clear();
    m_refused.clear();
    splitSorties = volumes = password = false;
    volumeText.clear();
    unit = QStringLiteral("GB");
    passwordText.clear();
    resumed = false;
}
