#include "restoreplan.h"

#include <QDir>
#include <QFileInfo>

#include <thread>
#include <vector>

#include "cardformatter.h"
#include "offloadset.h"
#include "restorecards.h"
#include "savegate.h"
#include "taskconfig.h"
#include "volumequery.h"
#include "workerthread.h"

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
    // The names the offload gave copies that the target could not hold as on the card. A set of
    // another offload can only miss copies, never make one: every copy is compared.
    OffloadSet set;
    QString why;
    OffloadSet::read(OffloadSet::path(QFileInfo(taskConfigPath).absolutePath()), &set, &why);
    QStringList formatted;
    for (const RestoreCard &card : cards) {
        if (card.willFormat())
            formatted << card.root;
    }
    const ErasedCards erased(formatted);
    // The backup is the set's, when the set is this offload's.
    const QString backup = QDir::cleanPath(set.target) == QDir::cleanPath(config.savePath)
                               ? set.backup
                               : QString();
    // Each card is its own device: reading them side by side takes as long as the fullest.
    std::vector<std::thread> readers;
    for (RestoreCard &card : cards) {
        if (!card.willFormat())
            continue;
        readers.push_back(WorkerThread::start("save gate", [&card, &config, &set, &erased, &backup,
                                                            offloaded] {
            const int camera = RestoreCards::engineCamera(card.position);
            const SavedCopies copies =
                offloaded ? SavedCopies(config, camera, set.cards[camera].renamed, backup)
                          : SavedCopies();
            const SaveGate::CardCheck check = SaveGate::check(card.root, copies, erased);
            card.photos = check.photos;
            card.unsaved = check.unsaved;
            card.hiddenUnsaved = check.hiddenUnsaved;
            card.copiesErased = check.copiesErased;
            card.oneCopy = check.oneCopy;
            card.unsavedExamples = check.unsavedExamples;
        }));
    }
    for (std::thread &reader : readers)
        reader.join();
    return cards;
}

int held(const RestoreCard &card, int requiredCopies)
{
    return card.unsaved + (requiredCopies >= 2 ? card.oneCopy : 0);
}

QString copyText(const RestoreCard &card)
{
    QStringList parts;
    if (!card.willFormat())
        return QString();
    if (card.oneCopy > 0)
        parts << QStringLiteral("%1 张照片只有一份备份").arg(card.oneCopy);
    if (card.unsaved > 0)
        parts << QStringLiteral("%1 张照片没有备份").arg(card.unsaved);
    return parts.join(QStringLiteral("，"));
}

QStringList copyCounts(const QList<RestoreCard> &cards)
{
    QStringList lines;
    for (const RestoreCard &card : cards) {
        const QString text = copyText(card);
        if (!text.isEmpty())
            lines << RestoreCards::cameraName(card.position) + QStringLiteral("：") + text;
    }
    return lines;
}

QString unsavedQuestion(const QList<RestoreCard> &cards, int requiredCopies)
{
    // One clause per reason, each naming the cameras with their counts.
    const auto clause = [&cards](int (*count)(const RestoreCard &), const QString &unit,
                                 const QString &reason) {
        QStringList parts;
        for (const RestoreCard &card : cards) {
            if (card.willFormat() && count(card) > 0)
                parts << QStringLiteral("%1有 %2 %3")
                             .arg(RestoreCards::cameraName(card.position))
                             .arg(count(card))
                             .arg(unit);
        }
        return parts.isEmpty() ? QString() : parts.join(QStringLiteral("、")) + reason;
    };
    QStringList clauses{
        clause([](const RestoreCard &card) {
            return card.unsaved - card.hiddenUnsaved - card.copiesErased;
        }, QStringLiteral("张"), QStringLiteral("照片尚未验证备份")),
        clause([](const RestoreCard &card) { return card.copiesErased; }, QStringLiteral("张"),
               QStringLiteral("照片的备份就在要清除的卡上")),
        clause([](const RestoreCard &card) { return card.hiddenUnsaved; }, QStringLiteral("个"),
               QStringLiteral("隐藏文件没有备份")),
        requiredCopies >= 2
            ? clause([](const RestoreCard &card) { return card.oneCopy; }, QStringLiteral("张"),
                     QStringLiteral("照片只有一份备份"))
            : QString()};
    clauses.removeAll(QString());
    if (clauses.isEmpty())
        return QString();
    return clauses.join(QStringLiteral("，")) + QStringLiteral("，仍要清除吗？");
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
