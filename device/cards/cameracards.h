#pragma once

#include <QList>
#include <QObject>
#include <QStringList>

#include "cameras.h"
#include "volumequery.h"

// The one place that knows which mounted volume is which camera's card. The offload page
// decides when to reassign (at start-up, and on an arrival while nothing is set up); the page,
// the card checks and the restore and POS pages read the cards here and observe cardsChanged.
class CameraCards : public QObject
{
    Q_OBJECT
public:
    // GUI thread; the first call assigns from the volumes the drive watcher sees.
    static CameraCards *instance();

    // Engine camera number (centre 0, left 1, right 2, front 3, back 4) whose card a volume
    // label names, or -1. Case-sensitive substring tests in a fixed order: front, centre,
    // back, right, left; the first camera that matches takes the card.
    static int cameraOfLabel(const QString &label);
    // Assigns volumes in list order onto cards: a later volume of the same camera replaces an
    // earlier one; a camera no volume names keeps what it had.
    static void assign(const QList<MountedVolume> &volumes, MountedVolume cards[Cameras::Count]);

    // The card of camera, by engine number; invalid while none was ever assigned.
    MountedVolume card(int camera) const;
    QString root(int camera) const { return card(camera).mountRoot; }
    // The card is assigned and its volume is mounted now.
    bool present(int camera) const;
    // Mount roots of the present cards in the card checks' order centre, left, right, back,
    // front; empty where there is no card (where the Windows program had "a:").
    QStringList checkPaths() const;

    // Runs the assignment over the drive watcher's current volumes.
    void reassign();
    // The same over a given list (tests, tools).
    void reassignFrom(const QList<MountedVolume> &volumes);

    // While set, drive removals are ignored: no card has been plugged in and no offload started
    // since the program began. Cleared by an arrival and by every start or resume.
    bool ignoreRemovals() const { return m_ignoreRemovals; }
    void setIgnoreRemovals(bool ignore) { m_ignoreRemovals = ignore; }

signals:
    // An assignment changed, or an assigned card was mounted or unmounted.
    void cardsChanged();

private:
    CameraCards();
    void volumesMoved(const QString &mountRoot);

    MountedVolume m_cards[Cameras::Count];
    bool m_ignoreRemovals = true;
};
