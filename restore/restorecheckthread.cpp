#include "restorecheckthread.h"

#include "cardformatter.h"
#include "cardtemplate.h"
#include "taskconfig.h"
#include "workerthread.h"

RestoreCheckThread::RestoreCheckThread(const QStringList &roots, QObject *parent)
    : QThread(parent)
    , m_roots(roots)
{}

void RestoreCheckThread::run()
{
    WorkerThread::prepare("restore check");
    m_templateMissing = CardTemplate::missingFile(CardTemplate::folder());
    const std::unique_ptr<CardFormatter> formatter = CardFormatter::create();
    // Without the template nothing will be formatted: the photos need not be read.
    m_cards = RestorePlan::inspect(m_roots, *formatter, TaskConfig::defaultPath(),
                                   m_templateMissing.isEmpty());
}
