#pragma once

// The engine's camera numbers (centre 0, left 1, right 2, front 3, back 4) and their names.
namespace Cameras {

constexpr int Count = 5;
// The order the match lists the cameras in, in `v7tool match --json` and the flight report
// alike: front, right, back, left, centre, as the camera writes its per-lens POS tables.
constexpr int MatchOrder[Count] = {3, 2, 4, 1, 0};
// "Center", "Left", "Right", "Front", "Back": camera folders below the target folder.
const char *folderName(int camera);
// "center", "left", ...: task files and photo information files.
const char *lowerName(int camera);

} // namespace Cameras
