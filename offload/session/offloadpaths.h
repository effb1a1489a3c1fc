#pragma once

#include <QString>

#include "offloadsession.h"

// The folders of an offload weighed against each other before anything is created: the target
// apart from every card folder (neither inside the other), no folder given for two cameras, the
// target not on a source card's own volume, and every path short enough for the engine's task
// record. Folders are compared as the disk sees them (real paths, device and inode), so a link
// or a ".." does not hide an overlap. The start, the resume and the offload page all ask here.
namespace OffloadPaths {

struct Refusal
{
    QString message; // for the tool and the log, naming both paths; empty when accepted
    QString prompt;  // the offload page's sentence
    QString paths;   // the paths concerned, one a line, shown under the page's sentence

    bool refused() const { return !message.isEmpty(); }
};

Refusal check(const OffloadSession::Setup &setup);

} // namespace OffloadPaths
