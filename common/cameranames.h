#pragma once

// The cameras by their names, beside the engine numbers of cameras.h.
namespace Cameras {

// "下视相机", "左视相机", ...: the camera as the operator reads it (UTF-8).
const char *operatorName(int camera);
// The engine number of a camera folder's name ("Left", "left"), -1 for none.
int byFolderName(const char *name);

} // namespace Cameras
