#pragma once

#include <QList>
#include <QString>
#include <QStringList>

class CardFormatter;

// One camera's card as a restore finds it before anything is changed.
struct RestoreCard
{
    int position = 0; // centre, left, right, back, front
    QString root;     // mount root; empty when the camera's card is not there
    QString device;
    QString refusal;  // why it will not be formatted; empty when it will be
    int photos = 0;
    int unsaved = 0;  // files without a verified copy that outlives the restore, the two below too
    int hiddenUnsaved = 0; // of those: hidden files and files in hidden folders
    int copiesErased = 0;  // of those: photos whose only copies lie on a card this restore formats
    int oneCopy = 0;       // saved files whose verified copies all lie on one target
    QStringList unsavedExamples;

    bool present() const { return !root.isEmpty(); }
    bool willFormat() const { return present() && refusal.isEmpty(); }
};

// The look before a restore: which cards may be formatted and how many photos on them lack a
// verified copy. Shared by the restore page's worker and v7tool.
namespace RestorePlan {

// roots: five mount roots in restore order, empty for no card. The photos are checked against
// the offload recorded in taskConfigPath (and the renamed copies of the offload set beside it),
// the cards side by side (each on its own thread); a copy on a card it formats does not count.
QList<RestoreCard> inspect(const QStringList &roots, const CardFormatter &formatter,
                           const QString &taskConfigPath, bool checkPhotos = true);

// The second question, naming the cameras and their counts; empty when every photo is saved.
// requiredCopies 2 holds photos with one verified copy as well (the crew's rule: never erase
// a card before its photos are on two disks).
QString unsavedQuestion(const QList<RestoreCard> &cards, int requiredCopies = 1);
// Files that requiredCopies holds back: those without a copy, and with 2 those with one.
int held(const RestoreCard &card, int requiredCopies);
// "N 张照片只有一份备份，M 张照片没有备份" (the parts that are not 0) of a card to be
// formatted; empty when its photos are all on two disks.
QString copyText(const RestoreCard &card);
// The same per camera, "下视相机：" first.
QStringList copyCounts(const QList<RestoreCard> &cards);

// "前视相机：<reason>" lines of the refused cards.
QStringList refusals(const QList<RestoreCard> &cards);

} // namespace RestorePlan
