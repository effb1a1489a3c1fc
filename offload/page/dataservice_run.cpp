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

#include <utility>

#include "cameracards.h"
#include "flightreport.h"
#include "mylabel.h"
#include "offloadpaths.h"
#include "offloadrun.h"
#include "offloadset.h"
#include "offloadstate.h"
#include "operatortexts.h"
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
    // Told, not ignored: a start button that does nothing looks broken.
    if (!m_plan.isSetUp() || m_plan.target.isEmpty() || m_plan.posPending()) {
        Prompt::inform(this, !m_plan.isSetUp()       ? QStringLiteral("请先选择相机照片目录！")
                             : m_plan.target.isEmpty() ? QStringLiteral("请先选择保存目录！")
                                                       : QStringLiteral("POS文件正在读取，请稍候！"));
        return;
    }
    // Photos tagged from a refused table could not be told from correct ones afterwards.
    const QString refusal = m_plan.posRefusal();
    if (!refusal.isEmpty()) {
        Prompt::inform(this, QStringLiteral("POS文件读取失败"), refusal);
        return;
    }
    // Told before the room on the target, which means nothing for a target on a card or inside
    // one. A few stat calls of folders the operator just chose; the run weighs them again, and a
    // resume's refusal comes back from the run's thread in the same words (runStarted).
    if (const OffloadPaths::Refusal paths = OffloadPaths::check(m_plan.setup()); paths.refused()) {
        Prompt::inform(this, paths.prompt, paths.paths);
        return;
    }
    if (m_freeMiB < neededMiB()) {
        Prompt::inform(this,
                       driveOf(m_plan.target) + QStringLiteral("盘空间不足,请重新选择目录！"));
        return;
    }
    m_plan.splitSorties = m_sortieBox->isChecked();
    m_plan.volumes = m_volumeBox->isChecked();
    m_plan.password = m_passwordBox->isChecked();
    leaveCompleted();
    m_progress->setRange(0, std::max(1, m_plan.plannedTotal()));
    m_progress->setValue(0);
    m_reportLink->hide();
    CameraCards::instance()->setIgnoreRemovals(false);
    m_started = true;
    // Blank: the photos tell each camera's clock offset; a number: the operator's.
    bool givenOffset = false;
    const double offset = m_offsetEdit->text().trimmed().toDouble(&givenOffset);
    m_run->setMatchOffset(givenOffset, offset);
    OffloadSession::Setup setup = m_plan.setup();
    setup.cameraPrefix = m_prefixBox->isChecked();
    m_run->requestStart(setup);
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
    m_resumingPaused = true;
    m_run->requestResumePaused();
    setRunning(true);
    m_paused = false;
}

void DataService::runStarted(bool ok, const QString &error)
{
    if (!error.isEmpty())
        qWarning("offload: %s", qPrintable(error));
    for (const QString &note : m_run->session().notes())
        qWarning("offload: %s", qPrintable(note));
    // The English above is the log's; the operator reads what the run carried beside it.
    const QString notes = OperatorTexts::lines(m_run->session().notesTold());
    OperatorOutcomes told = m_run->told();
    if (told.isEmpty() && !error.isEmpty())
        told << OperatorOutcome(OperatorOutcome::Other);
    const QString why = OperatorTexts::lines(told);
    if (ok && !notes.isEmpty()) {
        ++m_promptDepth;
        Prompt::inform(this, notes);
        --m_promptDepth;
    }
    const bool resumingPaused = std::exchange(m_resumingPaused, false);
    if (ok || m_run->session().running())
        return;
    m_timer->stop();
    setRunning(false);
    if (resumingPaused) {
        // The paused tasks stay: the right card put back, the start button continues them.
        m_paused = true;
    } else {
        // Nothing runs: back to a set-up offload that can be started again.
        m_paused = false;
        m_started = false;
        showText(m_plan.text() + why + QLatin1Char('\n'));
    }
    // Folders that overlap or a target on a card: told in the page's own words (the folders are
    // weighed on the run's thread, where a slow card cannot hold up the window).
    if (const QString prompt = m_run->session().pathPrompt(); !prompt.isEmpty()) {
        ++m_promptDepth;
        Prompt::inform(this, prompt, m_run->session().refusedPaths());
        --m_promptDepth;
        return;
    }
    // No guessed offset: photos tagged with other exposures' positions look right.
    if (m_run->failure() == OffloadRun::Failure::Refused && m_run->match() &&
        m_run->match()->ambiguous()) {
        ++m_promptDepth;
        Prompt::inform(this, why);
        --m_promptDepth;
        m_offsetEdit->setFocus();
        return;
    }
    QString heading;
    switch (m_run->failure()) {
    case OffloadRun::Failure::Locked:
        break; // the sentence names the other run
    case OffloadRun::Failure::StateFailed:
        heading = QStringLiteral("任务状态保存失败，传输没有开始：");
        break;
    case OffloadRun::Failure::Refused:
        heading = QStringLiteral("无法继续传输：");
        break;
    case OffloadRun::Failure::None:
        break;
    }
    if (heading.isEmpty() && why.isEmpty())
        return;
    QStringList lines{heading, notes, why};
    lines.removeAll(QString());
    ++m_promptDepth;
    Prompt::inform(this, lines.join(QLatin1Char('\n')));
    --m_promptDepth;
}

void DataService::onTimeout()
{
    if (m_finishing) {
        showLook();
        return;
    }
    if (m_run->busy())
        return;
    const OffloadPlan::Reading reading = m_plan.read(m_run->reading());
    m_progress->setRange(0, std::max(1, reading.maximum + m_extraPlanned));
    m_progress->setValue(reading.value);
    m_speed->setText(reading.speed);
    m_timeLeft->setText(reading.timeLeft);
    showText(reading.text);
    if (reading.halted) {
        haltRun();
        return;
    }
    if (!reading.complete)
        return;
    m_resultText = reading.text;
    // The timer goes on: it shows the look at the copies until the report is written.
    m_speed->clear();
    m_finishing = true;
    setRunning(false);
    m_run->requestFinish();
    showLook();
}

// The cards are read to the end: the operator may take them while the copies are looked at.
void DataService::showLook()
{
    const OffloadRun::LookProgress look = m_run->lookProgress();
    QStringList lines{m_resultText, QStringLiteral("照片已全部拷贝，可以取下存储卡。")};
    if (look.added > 0)
        lines << QStringLiteral("正在检查影像质量（%1/%2）").arg(look.looked).arg(look.added);
    showText(lines.join(QLatin1Char('\n')));
}

// Every engine ended with files that failed or on an error: the lines say which; the run waits
// as if paused, and the start button tries again (the failed files first).
void DataService::haltRun()
{
    m_timer->stop();
    m_speed->clear();
    m_timeLeft->clear();
    setRunning(false);
    m_paused = true;
}

void DataService::runFinished(int blockFiles, const QStringList &messages)
{
    for (const QString &message : messages)
        qWarning("offload: %s", qPrintable(message));
    OperatorOutcomes told = m_run->finishTold();
    if (told.isEmpty() && !messages.isEmpty())
        told << OperatorOutcome(OperatorOutcome::Other);
    qDebug("offload complete: %d block files", blockFiles);
    m_timer->stop();
    m_finishing = false;
    m_completed = true;
    m_plan.resumed = false;
    // Photos copied without their position, block files not written: the operator has to
    // know before the flight's data are used.
    QStringList shown;
    if (!told.isEmpty())
        shown << OperatorTexts::lines(told);
    if (m_plan.volumes && !m_plan.posPaths().isEmpty())
        shown.prepend(FlightReport::exportsNeedPlainText());
    resetAfterCompletion(shown.join(QLatin1Char('\n')), m_run->outputsWritten());
}

void DataService::resetAfterCompletion(const QString &note, bool outputsWritten)
{
    setRunning(false);
    m_paused = false;
    m_started = false;
    m_plan.reset();
    m_plan.target = m_targetText->text();
    m_extraPlanned = 0;
    // The bar stands full and the text says so until the next offload is set up.
    m_progress->setValue(m_progress->maximum());
    m_speed->clear();
    m_timeLeft->clear();
    // The last reading (each camera's counts, the files passed over, "传输已完成") and the
    // report's summary below it.
    QStringList result{m_resultText};
    if (!outputsWritten)
        result << QStringLiteral("架次文件或报告未全部写入");
    if (!m_run->reportPath().isEmpty())
        result << m_run->reportSummary();
    showText(result.join(QLatin1Char('\n')));
    m_resultText.clear();
    for (int camera = 0; camera < Cameras::Count; ++camera) {
        showIcon(camera, false);
        m_sizes[camera].reset();
    }
    for (QCheckBox *box : {m_sortieBox, m_prefixBox, m_volumeBox, m_passwordBox})
        box->setChecked(false);
    m_offsetEdit->clear(); // the next flight's cameras have clocks of their own
    showReport();
    m_showingResult = true;
    ++m_promptDepth;
    // Copies without their block files or report are not a finished offload: the task stays
    // open, and continuing it writes what is missing.
    Prompt::inform(this,
                   outputsWritten ? QStringLiteral("传输已经完成！")
                                  : QStringLiteral("照片已全部拷贝，但架次文件或报告未能写入，"
                                                   "请检查目标磁盘后继续上次任务！"),
                   note);
    --m_promptDepth;
}

void DataService::showReport()
{
    const QString path = m_run->reportPath();
    if (path.isEmpty())
        return;
    m_reportLink->setText(QStringLiteral("<a href=\"%1\" style=\"color: rgb(22, 155,213);\">"
                                         "查看传输报告</a>")
                              .arg(QUrl::fromLocalFile(path).toString(QUrl::FullyEncoded)));
    m_reportLink->setToolTip(path);
    m_reportLink->show();
}

void DataService::leaveCompleted()
{
    if (!std::exchange(m_showingResult, false))
        return;
    m_reportLink->hide();
    m_progress->setRange(0, std::max(1, m_plan.plannedTotal() + m_extraPlanned));
    m_progress->setValue(0);
    showText(m_plan.text());
}

void DataService::offerResume()
{
    // The page's own offload, running or paused, is never offered back to itself.
    if (m_running || m_started || m_finishing)
        return;
    const OffloadState::Offer offer = OffloadState::inspect(m_run->stateFolder());
    for (const QString &problem : offer.problems)
        qWarning("offload: %s", qPrintable(problem));
    const QString problems = OperatorTexts::lines(offer.told);
    ++m_promptDepth;
    bool yes = false;
    switch (offer.kind) {
    case OffloadState::Offer::Nothing:
        break;
    case OffloadState::Offer::Pending:
        yes = Prompt::ask(this, QStringLiteral("是否继续上次任务？"));
        break;
    case OffloadState::Offer::Rebuild:
        yes = Prompt::ask(this, problems +
                                    QStringLiteral("\n是否从相机卡和目标目录重建并继续上次任务？"));
        break;
    case OffloadState::Offer::Damaged:
        Prompt::inform(this, problems);
        break;
    }
    --m_promptDepth;
    if (!yes || m_running || m_started)
        return;
    const TaskConfig config = offer.config;
    m_plan.adopt(config);
    for (int camera = 0; camera < Cameras::Count; ++camera)
        showIcon(camera, m_plan.selected(camera));
    m_targetText->setText(m_plan.target);
    // Checking a box here does what the operator's check does.
    m_sortieBox->setChecked(config.splitSorties);
    // The resume keeps the copies' names as the start chose them; the box shows which.
    OffloadSet set;
    QString why;
    m_prefixBox->setChecked(
        OffloadSet::read(OffloadSet::path(m_run->stateFolder()), &set, &why) == 0 &&
        set.cameraPrefix);
    m_volumeEdit->setText(config.volumeValue);
    m_unitBox->setCurrentIndex(config.volumeUnit == QLatin1String("MB") ? 1 : 0);
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
    QString error;
    // Another program's offload owns the state folder: its "Taskconfig.xml" is left alone.
    if (m_run->lockState(&error) == OffloadRun::Failure::Locked) {
        qWarning("offload: %s", qPrintable(error));
        return;
    }
    const TaskConfig config = m_plan.taskConfig(m_run->config(false));
    if (!TaskConfig::write(m_run->configPath(), config, &error)) {
        qWarning("offload: %s", qPrintable(error));
        ++m_promptDepth;
        Prompt::inform(this, OperatorTexts::text(OperatorOutcome::StateNotSaved),
                       m_run->configPath());
        --m_promptDepth;
    }
}
