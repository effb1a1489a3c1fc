#pragma once

#include <QByteArray>

// POS tables computed from raw camera records by the test's own code, to compare with what the
// library writes.
namespace PosTableCheck {
QByteArray mainTable(const QByteArray &raw, int recordSize);
QByteArray lensTable(const QByteArray &raw, int lens); // 52-byte records, lens 0..4
}
