#pragma once

#include <QFile>
#include <QString>

#include "disktask.h"

// A file the offload passed over as the operator reads it, alike on the offload page, in the
// flight report and from v7tool: its path as the file system names it, then why.
namespace FileProblemText {

inline QString path(const FileProblem &problem)
{
    return QFile::decodeName(problem.relative.c_str());
}

// "PATH: why"
inline QString line(const FileProblem &problem)
{
    return path(problem) + QStringLiteral(": ") + QString::fromUtf8(problem.reason.c_str());
}

} // namespace FileProblemText
