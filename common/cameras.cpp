#include "cameras.h"

namespace Cameras {

const char *folderName(int camera)
{
    static const char *const names[Count] = {"Center", "Left", "Right", "Front", "Back"};
    return camera >= 0 && camera < Count ? names[camera] : "";
}

const char *lowerName(int camera)
{
    static const char *const names[Count] = {"center", "left", "right", "front", "back"};
    return camera >= 0 && camera < Count ? names[camera] : "";
}

} // namespace Cameras
