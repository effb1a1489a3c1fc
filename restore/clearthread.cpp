#include "clearthread.h"

#include "cardformatter.h"
#include "cardtemplate.h"
#include "workerthread.h"

ClearThread::ClearThread(QObject *parent)
    : QThread(parent)
    , m_template(CardTemplate::folder())
{}

QStringList ClearThread::cardRoots() const
{
    QStringList roots;
    for (int position = 0; position < RestoreCards::Count; ++position)
        roots << (m_newRoots[position].isEmpty() ? m_roots.value(position) : m_newRoots[position]);
    return roots;
}

void ClearThread::run()
{
    WorkerThread::prepare("card format");
    const std::unique_ptr<CardFormatter> formatter = CardFormatter::create();
    for (int position = 0; position < RestoreCards::Count; ++position) {
        const QString root = m_roots.value(position);
        if (root.isEmpty())
            continue;
        const CardFormatter::Outcome outcome =
            formatter->format(root, RestoreCards::label(position));
        m_formatted[position] = outcome.ok;
        m_newRoots[position] = outcome.mountRoot;
        m_errors[position] = outcome.error;
        if (!outcome.ok)
            qWarning("restore: %s: %s", qPrintable(RestoreCards::label(position)),
                     qPrintable(outcome.error));
    }
    // A card that could not be formatted still holds its photos: nothing is written onto it.
    for (int position = 0; position < RestoreCards::Count; ++position) {
        if (!m_formatted[position])
            continue;
        m_results[position] = CardTemplate::write(m_template, m_newRoots[position]) ? 1 : 0;
        if (!m_results[position])
            m_errors[position] = QStringLiteral("相机卡结构文件写入失败");
    }
}
