#pragma once

#include <QString>

#include <functional>

// Writes the tables of a raw POS file read from disk (the camera's POS drive, or a file given to
// v7tool), through the library's table writer that the WiFi download uses as well.
class PosRawTables
{
public:
    struct Result
    {
        bool ok = false;
        qint64 records = 0;  // whole records written
        qint64 leftover = 0; // bytes after the last whole record, not decoded
        QString error;       // what went wrong, for the operator or the console
        // A lens table that could not be created, with the reason; the lens tables are then
        // all left out and the main table written alone (ok stays true).
        QString lensError;
    };

    // Called after every batch of records with the share done, 0..100.
    using Progress = std::function<void(double percent)>;

    // Writes the main table at mainPath and, with perLens and 52-byte records, the five lens
    // tables beside it. Each table is written to a temporary file and renamed into place when
    // whole, so a failure leaves the earlier table (or none) and never a part of one. A table
    // that would replace the raw file itself (the same file, also through a link) is refused
    // before anything is written. A main table that cannot be created or written ends it with ok
    // false.
    static Result write(const QString &rawPath, int recordSize, const QString &mainPath,
                        bool perLens, const Progress &progress = {});
};
