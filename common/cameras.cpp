#include "cameras.h"
#include "cameranames.h"

#include <strings.h>

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

const char *operatorName(int camera)
{
    static const char *const names[Count] = {"下视相机", "左视相机", "右视相机", "前视相机",
                                             "后视相机"};
    return camera >= 0 && camera < Count ? names[camera] : "";
}

int byFolderName(const char *name)
{
    for (int camera = 0; camera < Count; ++camera) {
        if (strcasecmp(name, folderName(camera)) == 0)
            return camera;
    }
    return -1;
}

} // namespace Cameras
