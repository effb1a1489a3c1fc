#include "cameracards.h"

#include "drivewatcher.h"

namespace {

struct LabelForms
{
    int camera;
    const char *forms[3];
};

// The order is the rule: a label holding both "Front" and "Left" belongs to the front camera.
constexpr LabelForms kLabelForms[] = {
    {3, {"Front", "front", "FRONT"}}, {0, {"Center", "CENTER", "center"}},
    {4, {"Back", "back", "BACK"}},    {2, {"Right", "right", "RIGHT"}},
    {1, {"Left", "LEFT", "left"}},
};

} // namespace

CameraCards *CameraCards::instance()
{
    static CameraCards *cards = new CameraCards();
    return cards;
}

CameraCards::CameraCards()
{
    DriveWatcher *watcher = DriveWatcher::instance();
    assign(watcher->volumes(), m_cards);
    connect(watcher, &DriveWatcher::deviceAdded, this, &CameraCards::volumesMoved);
    connect(watcher, &DriveWatcher::deviceRemoved, this, &CameraCards::volumesMoved);
    connect(watcher, &DriveWatcher::deviceChanged, this, &CameraCards::volumesMoved);
}

int CameraCards::cameraOfLabel(const QString &label)
{
    for (const LabelForms &entry : kLabelForms) {
        for (const char *form : entry.forms) {
            if (label.contains(QLatin1String(form), Qt::CaseSensitive))
                return entry.camera;
        }
    }
    return -1;
}

void CameraCards::assign(const QList<MountedVolume> &volumes, MountedVolume cards[Cameras::Count])
{
    for (const MountedVolume &volume : volumes) {
        const int camera = cameraOfLabel(volume.label);
        if (camera >= 0)
            cards[camera] = volume;
    }
}

MountedVolume CameraCards::card(int camera) const
{
    return camera >= 0 && camera < Cameras::Count ? m_cards[camera] : MountedVolume();
}

bool CameraCards::present(int camera) const
{
    const MountedVolume assigned = card(camera);
    if (!assigned.isValid())
        return false;
    for (const MountedVolume &volume : DriveWatcher::instance()->volumes()) {
        if (volume.mountRoot == assigned.mountRoot)
            return true;
    }
    return false;
}

QStringList CameraCards::checkPaths() const
{
    // centre 0, left 1, right 2, back 4, front 3
    static const int order[Cameras::Count] = {0, 1, 2, 4, 3};
    QStringList paths;
    for (int camera : order)
        paths << (present(camera) ? root(camera) : QString());
    return paths;
}

void CameraCards::reassign()
{
    reassignFrom(DriveWatcher::instance()->volumes());
}

void CameraCards::reassignFrom(const QList<MountedVolume> &volumes)
{
    MountedVolume next[Cameras::Count];
    std::copy(std::begin(m_cards), std::end(m_cards), std::begin(next));
    assign(volumes, next);
    if (std::equal(std::begin(next), std::end(next), std::begin(m_cards)))
        return;
    std::copy(std::begin(next), std::end(next), std::begin(m_cards));
    emit cardsChanged();
}

void CameraCards::volumesMoved(const QString &mountRoot)
{
    for (const MountedVolume &card : m_cards) {
        if (card.isValid() && card.mountRoot == mountRoot) {
            emit cardsChanged();
            return;
        }
    }
}
