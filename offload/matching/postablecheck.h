#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include "operatortexts.h"
#include "posspreadsheet.h"

// The verdict of the strict POS table reader: a table is taken only when its first line is a
// POS header and every row below it reads cleanly, because one shifted or missing row would
// move the positions of every later photo.
struct PosTableCheck
{
    QString problem;      // empty when the table is accepted
    OperatorOutcome why;  // the problem as the offload page tells it
    int firstBadLine = 0; // 1-based; 0 when the file as a whole is the problem
    QList<int> badLines;  // data rows that cannot be read, 1-based
    int rows = 0;         // data rows read
    bool accepted() const { return problem.isEmpty(); }
    // The operator's message: the file, the first bad line and why, the bad rows counted.
    QString message(const QString &path) const;
};

namespace PosSpreadsheet {
// Fills object from the table at path. A table that is not a POS table, a row that cannot be
// read, a missing, empty or header-only file are refused: object then names the file and holds
// no records.
PosTableCheck readChecked(const QString &path, MyExcelObject *object);
// The same on the bytes of a table (the file hash is left to readChecked).
PosTableCheck parse(const QByteArray &content, MyExcelObject *object);
// xxh64 of a table's bytes as 16 hex digits: how the set file tells a table unchanged.
QString hashText(QByteArrayView content);
} // namespace PosSpreadsheet
