#pragma once

#include <QList>
#include <QString>
#include <QStringList>

struct FileProblem;
struct PosTableCheck;

// One thing the offload did or refused, as the operator is to be told of it: a code, the camera
// it concerns and the names, paths and numbers of its sentence. It travels beside the English
// text that v7tool prints and the log keeps; the offload page shows OperatorTexts::text() of it
// and never the English. A new outcome gets a code here and its sentence in operatortexts.cpp.
struct OperatorOutcome
{
    enum Code {
        None,
        Other, // no sentence of its own yet: the page says something went wrong, the log says what

        // POS tables (args as named)
        PosNoFile,
        PosUnreadable,
        PosTooLarge,
        PosNotText,
        PosEmpty,
        PosHeaderOnly,
        PosHeaderTooFew,
        PosHeaderName,    // name
        PosHeaderOrder,
        PosHeaderInData,  // value
        PosRowLength,     // values, expected
        PosDecimalComma,  // column, value
        PosNotNumber,     // column, value
        PosOutOfRange,    // column, value
        PosBadTime,       // value

        // Start, resume and continue
        CardFolderMissing,     // camera; folder
        CardNotOfOffload,      // camera; folder
        CardNotFound,          // camera; folder
        CardMoved,             // camera; folder (note: the resume reads it from there)
        CardMovedWhilePaused,  // camera; folder
        StateFolderUncreatable, // folder
        TaskFileUnwritable,    // camera; file
        TaskStateUnsaved,      // -
        TargetUncreatable,     // folder
        TargetMissing,         // folder
        NoTargetRecorded,      // -
        ClockOffsetAmbiguous,  // -
        Locked,                // pid, host, started (empty when the holder is not known yet)
        LockFailed,            // lock file
        EngineNotResumed,      // camera

        // What a resume found (notes)
        SetFileDamaged,      // kept-aside copy
        TaskFilesUnbound,    // -
        TaskFileDamaged,     // camera; file, kept-aside copy
        FewerCopiesFound,    // camera; counted, found
        CopiesChecked,       // camera (the target's copies were weighed again)

        // The saved offload ("Taskconfig.xml") when the page is entered
        ConfigDamaged,       // file, kept-aside copy (empty: could not be moved)
        ConfigRebuildable,   // target
        ConfigNothingLeft,   // -

        // Completion
        PhotosUntagged,      // count
        BlocksNotWritten,    // written, due
        ReportNotWritten,    // -
        ExportsNotWritten,   // -
        TargetNotFlushed,    // folder
        OutputsMissing,      // -
        StateNotSaved,       // -

        // A file of a card the engine passed over (args: path below the card folder)
        FileUnreadable,      // path, system error
        FileChanged,         // path
        FileNameRefused,     // path
        FileNotWritten,      // path, system error
        FileCopyDiffers,     // path
        FilePathTooLong,     // path
        FileSkipped,         // path (a link, a FIFO)
    };

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
