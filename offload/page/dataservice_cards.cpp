// The offload page and the cards: arrivals and removals reported by the drive watcher.
#include "dataservice.h"

#include <QLabel>
#include <QLoggingCategory>
#include <QTimer>

#include "cameracards.h"
#include "offloadrun.h"
#include "prompt.h"

Q_LOGGING_CATEGORY(lcCards, "v7.offload.cards", QtWarningMsg)

namespace {
enum DriveEventKind { Added, Removed };
}

void DataService::slotDeviceAdded(const QString &mountRoot)
{
    driveEvent(Added, mountRoot);
}

void DataService::slotDeviceChanged(const QString &) {}

void DataService::slotDeviceRemoved(const QString &mountRoot)
{
    driveEvent(Removed, mountRoot);
}

void DataService::driveEvent(int kind, const QString &mountRoot)
{
    if (m_promptDepth > 0) {
        m_waitingEvents.append({kind, mountRoot});
        return;
    }
    handleDriveEvent(kind, mountRoot);
    while (m_promptDepth == 0 && !m_waitingEvents.isEmpty()) {
        const QPair<int, QString> next = m_waitingEvents.takeFirst();
        handleDriveEvent(next.first, next.second);
    }
}

void DataService::handleDriveEvent(int kind, const QString &mountRoot)
{
    CameraCards *cards = CameraCards::instance();
    qCDebug(lcCards) << "card" << (kind == Added ? "arrived" : "removed") << mountRoot;
    ++m_promptDepth;
    if (kind == Added) {
        cards->setIgnoreRemovals(false);
        if (!m_plan.isSetUp()) {
            cards->reassign();
            Prompt::inform(this, QStringLiteral("有新的设备插入！"));
        } else if (Prompt::ask(this, QStringLiteral("有新的设备插入,是否继续?"))) {
            // Only an offload that stands paused has engines to resume.
            if (m_started && m_paused && !m_running && !m_finishing)
                resumeRun();
        }
    } else if (!cards->ignoreRemovals()) {
        // Every engine stops before the operator hears of it; the start button then resumes
        // the same files.
        if (m_started && m_running)
            pauseRun();
        Prompt::inform(this, QStringLiteral("设备被移除！"));
    }
    --m_promptDepth;
}
