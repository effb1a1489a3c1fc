#pragma once

#include <QString>
#include <QStringList>

#include "operatortexts.h"
#include "taskconfig.h"

// What the state folder offers to resume, checked before anything is offered: "Taskconfig.xml",
// or, when it is damaged, the offload's set-up as it was started (kept in the offload's set
// file), which a resume rebuilds from the cards and the target. A damaged file is kept aside
// under a new name, never deleted.
namespace OffloadState {

struct Offer
{
    enum Kind {
        Nothing, // no unfinished offload
        Pending, // "Taskconfig.xml" holds an unfinished offload
        Rebuild, // "Taskconfig.xml" is damaged; config is the set-up the offload started with
        Damaged, // "Taskconfig.xml" is damaged and nothing records the offload
    };
    Kind kind = Nothing;
    TaskConfig config;
    QStringList problems; // which file is damaged, how, and where it is kept
    OperatorOutcomes told; // the same for the operator
};

Offer inspect(const QString &stateFolder);
// Renames path to "<path>.damaged-<UTC time>"; the new path, or empty when it cannot be moved.
QString keepAside(const QString &path);

} // namespace OffloadState
