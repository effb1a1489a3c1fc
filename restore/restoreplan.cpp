#include "restoreplan.h"

#include <thread>
#include <vector>

#include "cardformatter.h"
#include "restorecards.h"
#include "savegate.h"
#include "taskconfig.h"
#include "volumequery.h"

namespace RestorePlan {

QList<RestoreCard> inspect(const QStringList &roots, const CardFormatter &formatter,
                           const QString &taskConfigPath, bool checkPhotos)
{
    QList<RestoreCard> cards;
    for (int position = 0; position < RestoreCards::Count; ++position) {
        RestoreCard card;
        card.position = position;
        card.root = roots.value(position);
        if (card.present()) {
            card.device = VolumeQuery::volumeAt(card.root).device;
            card.refusal = formatter.refusal(card.root);
        }
        cards.append(card);
    }
    if (!checkPhotos)
        return cards;
    TaskConfig config;
    const bool offloaded = TaskConfig::read(taskConfigPath, &config);
    // Each card is its own device: reading them side by side takes as long as the fullest.
    std::vector<std::thread> readers;
    for (RestoreCard &card : cards) {
        if (!card.willFormat())
            continue;
        readers.emplace_back([&card, &config, offloaded] {
            const SavedCopies copies = offloaded
                                           ? SavedCopies(config, RestoreCards::engineCamera(card.position))
                                           : SavedCopies();
            const SaveGate::CardCheck check = SaveGate::check(card.root, copies);
            card.photos = check.photos;
            card.unsaved = check.unsaved;
            card.unsavedExamples = check.unsavedExamples;
        });
    }
    for (std::thread &reader : readers)
        reader.join();
    return cards;
}

QString unsavedQuestion(const QList<RestoreCard> &cards)
{
    QStringList parts;
    for (const RestoreCard &card : cards) {
        if (card.willFormat() && card.unsaved > 0)
            parts << QStringLiteral("%1有 %2 张")
                         .arg(RestoreCards::cameraName(card.position))
                         .arg(card.unsaved);
    }
    if (parts.isEmpty())
        return QString();
    return parts.join(QStringLiteral("、")) + QStringLiteral("照片尚未验证备份，仍要清除吗？");
}

QStringList refusals(const QList<RestoreCard> &cards)
{
    QStringList lines;
    for (const RestoreCard &card : cards) {
        if (card.present() && !card.refusal.isEmpty())
            lines << RestoreCards::cameraName(card.position) + QStringLiteral("：") + card.refusal;
    }
    return lines;
}

} // namespace RestorePlan
