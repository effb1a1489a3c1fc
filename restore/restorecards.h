#pragma once

#include <QString>

#include "cameras.h"

// The five cards in the order the restore treats them (centre, left, right, back, front), with
// the volume label each gets and the camera folder of the offload that holds its copies.
namespace RestoreCards {

constexpr int Count = 5;

// The offload engine's camera number of a restore position.
inline int engineCamera(int position)
{
    static const int cameras[Count] = {0, 1, 2, 4, 3};
    return position >= 0 && position < Count ? cameras[position] : -1;
}

// "Center", "Left", "Right", "Back", "Front": the volume label and the offload's folder name.
inline QString label(int position)
{
    return QString::fromLatin1(Cameras::folderName(engineCamera(position)));
}

// How the operator calls the camera.
inline QString cameraName(int position)
{
    static const char *const names[Count] = {"下视相机", "左视相机", "右视相机", "后视相机",
                                             "前视相机"};
    return position >= 0 && position < Count ? QString::fromUtf8(names[position]) : QString();
}

} // namespace RestoreCards
