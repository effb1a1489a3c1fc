// Feeds the strict POS table reader: whatever the bytes, a table is either refused with a
// line to name, or taken with one time per position and positions on the globe.
#include <QByteArray>

#include <cmath>
#include <cstdint>

#include "postablecheck.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    MyExcelObject object;
    const PosTableCheck check = PosSpreadsheet::parse(
        QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size)), &object);
    if (check.accepted()) {
        if (object.posList.isEmpty() || object.posList.size() != object.timeList.size() ||
            check.rows != object.posList.size())
            __builtin_trap();
        for (const PosPoint &p : object.posList) {
            if (!(std::fabs(p.x) <= 180) || !(std::fabs(p.y) <= 90) || !std::isfinite(p.z))
                __builtin_trap();
        }
    } else if (!object.posList.isEmpty() || check.message(QStringLiteral("t.xls")).isEmpty()) {
        __builtin_trap();
    }
    return 0;
}
