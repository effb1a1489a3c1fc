#pragma once

#include <string>
#include <vector>

// The names the copies of a card get in a camera folder. A target that folds case (exFAT, FAT)
// holds "P1.JPG" and "p1.jpg", or "DCIM/A/P1.JPG" and "DCIM/a/P1.JPG", as one file: the later
// copy would replace the earlier. Such a copy gets a name of its own ("P1~2.JPG") in the folder
// as first spelt; the names are decided once, before any copy is made, so that a resume, the
// save gate and the report all find a copy by the same name.
namespace CopyNames {

// Whether the file system of folder takes two spellings in another case for one name. Probed
// with a hidden file that is removed again; a folder that cannot be written counts as folding.
bool foldsCase(const std::string &folder);

// The key two names fold to on a target that folds case.
std::string folded(const std::string &name);

// For each card path (relative, in list order): its copy's path below the camera folder where
// that differs from the card's, else "". Without folding every copy keeps its card name.
// With a camera prefix ("Center_") every copy's file name starts with it, blanks become "_"
// (OpenDroneMap splits its geolocation lines on white space) and no two copies of the camera
// share a file name, whatever folders they lie in: the photogrammetry programs see file
// names only, and every card of the five names its photos alike.
std::vector<std::string> decide(const std::vector<std::string> &cardPaths, bool foldsCase,
                                const std::string &cameraPrefix = std::string());

// name with blanks (space, tab, line breaks) replaced by "_".
std::string withoutBlanks(std::string name);

} // namespace CopyNames
