#include "offloadstate.h"

#include <QDateTime>
#include <QDir>
#include <QFile>

#include "offloadset.h"

namespace OffloadState {

QString keepAside(const QString &path)
{
    const QString stamp =
        QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMdd-hhmmss"));
    QString aside = path + QStringLiteral(".damaged-") + stamp;
    for (int n = 2; QFile::exists(aside); ++n)
        aside = path + QStringLiteral(".damaged-%1-%2").arg(stamp).arg(n);
    return QFile::rename(path, aside) ? aside : QString();
}

Offer inspect(const QString &stateFolder)
{
    Offer offer;
    const QString path = QDir(stateFolder).filePath(QStringLiteral("Taskconfig.xml"));
    QFile file(path);
    if (!file.exists())
        return offer;
    QByteArray text;
    QString problem;
    if (!file.open(QIODevice::ReadOnly))
        problem = QStringLiteral("it cannot be read (%1)").arg(file.errorString());
    else
        problem = TaskConfig::problem(text = file.readAll());
    file.close();
    if (problem.isEmpty()) {
        if (TaskConfig::fromXml(text, &offer.config) && !offer.config.success)
            offer.kind = Offer::Pending;
        return offer;
    }
    const QString aside = keepAside(path);
    offer.told << OperatorOutcome(OperatorOutcome::ConfigDamaged, {path, aside});
    offer.problems << QStringLiteral("%1 is damaged: %2; %3")
                          .arg(path, problem,
                               aside.isEmpty() ? QStringLiteral("it cannot be moved aside")
                                               : QStringLiteral("kept as %1").arg(aside));
    OffloadSet set;
    QString why;
    const int read = OffloadSet::read(OffloadSet::path(stateFolder), &set, &why);
    if (read == 0 && TaskConfig::problem(set.config).isEmpty() &&
        TaskConfig::fromXml(set.config, &offer.config)) {
        offer.config.success = false;
        offer.kind = Offer::Rebuild;
        // Put back at once: a resume that fails or is declined now is offered again later.
        QString error;
        if (!TaskConfig::write(path, offer.config, &error)) {
            offer.problems << error;
            offer.told << OperatorOutcome(OperatorOutcome::StateNotSaved);
        }
        offer.told << OperatorOutcome(OperatorOutcome::ConfigRebuildable,
                                      {offer.config.savePath});
        offer.problems << QStringLiteral("the offload to %1 can be rebuilt from the cards and the "
                                         "target (the photos already there are verified and kept)")
                              .arg(offer.config.savePath);
    } else {
        offer.kind = Offer::Damaged;
        if (read == -2)
            offer.told << OperatorOutcome(OperatorOutcome::SetFileDamaged);
        offer.told << OperatorOutcome(OperatorOutcome::ConfigNothingLeft);
        offer.problems << (read == -2 ? why
                                      : QStringLiteral("nothing else records the offload: start it "
                                                       "again with the same cards and target"));
    }
    return offer;
}

} // namespace OffloadState
