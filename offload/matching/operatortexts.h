#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include "outcomecodes.h"

struct FileProblem;
struct PosTableCheck;

// One thing the offload did or refused, as the operator is to be told of it: a code, the camera
// it concerns and the names, paths and numbers of its sentence. It travels beside the English
// text that v7tool prints and the log keeps; the offload page shows OperatorTexts::text() of it
// and never the English. A new outcome gets a code in outcomecodes.h and its sentence in
// operatortexts.cpp.
struct OperatorOutcome : OutcomeCodes
{
    Code code = None;
    int camera = -1; // engine number, or -1
    QStringList args;

    OperatorOutcome() = default;
    OperatorOutcome(Code c, QStringList a = QStringList(), int cam = -1)
        : code(c)
        , camera(cam)
        , args(std::move(a))
    {}
    bool isNull() const { return code == None; }
};
using OperatorOutcomes = QList<OperatorOutcome>;

namespace OperatorTexts {

// The sentence of one outcome, in the program's Chinese; a camera's outcome begins with it.
QString text(const OperatorOutcome &outcome);
// One sentence a line.
QString lines(const OperatorOutcomes &outcomes);
// "下视相机" ... by engine number.
QString cameraName(int camera);
// An errno value as the operator reads it.
QString systemError(int error);
// The refusal of a POS table: the file, the first bad line and why, the bad rows counted.
QString posTable(const PosTableCheck &check, const QString &path);
// A file the engine passed over: its path, then why.
QString fileProblem(const FileProblem &problem);

} // namespace OperatorTexts
