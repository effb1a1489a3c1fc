// The offload page's run: start, pause and resume, the one-second reading, completion, the
// resume offer and the task file written when the window closes.
#include "dataservice.h"

#include <QCheckBox>
#include <QComboBox>
#include <QEventLoop>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QStorageInfo>
#include <QTextEdit>
#include <QTimer>
#include <QUrl>

#include "cameracards.h"
#include "mylabel.h"
#include "offloadrun.h"
#include "prompt.h"
#include "volumequery.h"

void DataService::startClicked()
{
    if (m_finishing)
        return;
    if (m_running)
        pauseRun();
    else if (m_paused)
        resumeRun();
    else
        startNew();
}

qint64 DataService::neededMiB() const
{
    qint64 total = 0;
    for (int camera = 0; camera < Cameras::Count; ++camera) {
        if (m_plan.selected(camera))
            total += m_sizes[camera].value();
    }
    return total;
}

QString DataService::driveOf(const QString &folder) const
{
    // Where the Windows program named the drive letter: the volume's mount root.
    const MountedVolume volume = VolumeQuery::volumeHolding(folder);
    if (volume.isValid())
        return volume.mountRoot;
    return QStorageInfo(folder).rootPath();
}

void DataService::startNew()
{
    if (!m_plan.isSetUp() || m_plan.target.isEmpty())
        return;
    if (m_freeMiB < neededMiB()) {
        Prompt::inform(this,
                       driveOf(m_plan.target) + QStringLiteral("盘空间不足,请重新选择目录！"));
        return;
    }
    m_plan.splitSorties = m_sortieBox->isChecked();
    m_plan.volumes = m_volumeBox->isChecked();
    m_plan.password = m_passwordBox->isChecked();
    m_progress->setRange(0, std::max(1, m_plan.plannedTotal()));
    m_progress->setValue(0);
    m_reportLink->hide();
    CameraCards::instance()->setIgnoreRemovals(false);
    m_started = true;
    m_run->requestStart(m_plan.setup());
    m_timer->start();
    setRunning(true);
}

void DataService::pauseRun()
{
    m_run->requestPause();
    setRunning(false);
    m_paused = true;
    m_timer->stop();
    m_speed->clear();
    m_timeLeft->clear();
}

void DataService::resumeRun()
{
    CameraCards::instance()->setIgnoreRemovals(false);
    m_timer->start();
    m_run->requestResumePaused();
    setRunning(true);
    m_paused = false;
}

void DataService::runStarted(bool ok, const QString &error)
{
    if (!error.isEmpty())
        qWarning("offload: %s", qPrintable(error));
    if (ok || m_run->session().running())
        return;
    // Nothing runs: back to a set-up offload that can be started again.
    m_timer->stop();
    setRunning(false);
    m_paused = false;
    m_started = false;
    showText(m_plan.text() + error + QLatin1Char('\n'));
}

void DataService::onTimeout()
{
    if (m_run->busy() || m_finishing)
        return;
    const OffloadPlan::Reading reading = m_plan.read(m_run->reading());
    m_progress->setRange(0, std::max(1, reading.maximum + m_extraPlanned));
    m_progress->setValue(reading.value);
    m_speed->setText(reading.speed);
    m_timeLeft->setText(reading.timeLeft);
    showText(reading.text);
    if (!reading.complete)
        return;
    m_timer->stop();
    m_speed->clear();
    m_finishing = true;
    setRunning(false);
    m_run->requestFinish();
}

void DataService::runFinished(int blockFiles, const QStringList &messages)
{
    for (const QString &message : messages)
        qWarning("offload: %s", qPrintable(message));
    qDebug("offload complete: %d block files", blockFiles);
    m_finishing = false;
    m_completed = true;
    m_plan.resumed = false;
    resetAfterCompletion();
}

void DataService::resetAfterCompletion()
{
    setRunning(false);
    m_paused = false;
    m_started = false;
    m_plan.reset();
    m_plan.target = m_targetText->text();
    m_extraPlanned = 0;
    m_progress->setValue(0);
    m_speed->clear();
    m_timeLeft->clear();
    showText(QString());
    for (int camera = 0; camera < Cameras::Count; ++camera) {
        showIcon(camera, false);
        m_sizes[camera].reset();
    }
    for (QCheckBox *box : {m_sortieBox, m_volumeBox, m_passwordBox})
        box->setChecked(false);
    showReport();
    ++m_promptDepth;
    Prompt::inform(this, QStringLiteral("传输已经完成！"));
    --m_promptDepth;
}

// The cleared text area takes the report's summary until the next offload is set up.
void DataService::showReport()
{
    const QString path = m_run->reportPath();
    if (path.isEmpty())
        return;
    showText(m_run->reportSummary());
    m_reportLink->setText(QStringLiteral("<a href=\"%1\" style=\"color: rgb(22, 155,213);\">"
                                         "查看传输报告</a>")
                              .arg(QUrl::fromLocalFile(path).toString(QUrl::FullyEncoded)));
    m_reportLink->setToolTip(path);
    m_reportLink->show();
}

void DataService::offerResume()
{
    const QString path = m_run->configPath();
    // The page's own offload, running or paused, is never offered back to itself.
    if (m_running || m_started || m_finishing || !TaskConfig::resumePending(path))
        return;
    ++m_promptDepth;
    const bool yes = Prompt::ask(this, QStringLiteral("是否继续上次任务？"));
    --m_promptDepth;
    TaskConfig config;
    if (!yes || m_running || m_started || !TaskConfig::read(path, &config))
        return;
    m_plan.adopt(config);
    for (int camera = 0; camera < Cameras::Count; ++camera)
        showIcon(camera, m_plan.selected(camera));
    m_targetText->setText(m_plan.target);
    // Checking a box here does what the operator's check does.
    m_sortieBox->setChecked(config.splitSorties);
    m_volumeEdit->setText(config.volumeValue);
    m_unitBox->setCurrentIndex(0);
    m_volumeBox->setChecked(config.volumes);
    m_passwordEdit->setText(config.passwordValue);
    m_passwordBox->setChecked(config.password);
    m_progress->setRange(0, std::max(1, m_plan.plannedTotal()));
    m_progress->setValue(m_plan.doneTotal());
    CameraCards::instance()->setIgnoreRemovals(false);
    m_started = true;
    m_paused = false;
    m_run->requestResume(config);
    setRunning(true);
    m_timer->start();
}

void DataService::onsignalclose()
{
    m_timer->stop();
    // The engines stop before the counts are taken; the window stays drawn meanwhile.
    if (m_started && !m_finishing) {
        QEventLoop wait;
        connect(m_run, &OffloadRun::paused, &wait, &QEventLoop::quit);
        m_run->requestPause();
        wait.exec(QEventLoop::ExcludeUserInputEvents);
        m_plan.read(m_run->progress());
    } else if (m_finishing) {
        QEventLoop wait;
        connect(m_run, &OffloadRun::finished, &wait, &QEventLoop::quit);
        wait.exec(QEventLoop::ExcludeUserInputEvents);
    }
    setRunning(false);
    const TaskConfig config = m_plan.taskConfig(m_run->config(false));
    if (!TaskConfig::write(m_run->configPath(), config))
        qWarning("offload: cannot write %s", qPrintable(m_run->configPath()));
}
