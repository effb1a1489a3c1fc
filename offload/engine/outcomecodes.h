#pragma once

// The codes of what the offload did or refused, as the operator is told of it (see
// OperatorOutcome in operatortexts.h). Apart and free of Qt, so that the copy engine can record
// one beside each English reason it writes.
struct OutcomeCodes
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
        BackupMissing,       // folder (the offload goes on with the first target alone)

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
        BackupIncomplete,    // camera; why (the backup target lacks copies of the first)
        BackupUncreatable,   // folder

        // A file of a card the engine passed over (args: path below the card folder)
        FileUnreadable,      // path, system error
        FileChanged,         // path
        FileNameRefused,     // path
        FileNotWritten,      // path, system error
        FileCopyDiffers,     // path
        FilePathTooLong,     // path
        FileSkipped,         // path (a link, a FIFO)

        CodeCount // new codes go above
    };
};
