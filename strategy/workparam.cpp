#include "workparam.h"

#include "protocol.h"

namespace WorkParamRecord {

namespace {
constexpr int kEntryCodes[kActivationEntries] = {1, 2, 3, 5, 4};
const char *const kEntryTexts[kActivationEntries] = {"起落架信号", "外部高低电平", "上电延时触发",
                                                     "手动延时触发", "高度触发"};
const char *const kModeNames[] = {"debug", "time", "distance", "pwm", "io", "edge"};
// Indexed by code - 1.
const char *const kActivationNames[] = {"gear", "level", "power-on", "altitude", "manual"};
} // namespace

int activationForEntry(int entry)
{
    return entry >= 0 && entry < kActivationEntries ? kEntryCodes[entry] : 0;
}

int entryForActivation(int code)
{
    for (int entry = 0; entry < kActivationEntries; ++entry) {
        if (kEntryCodes[entry] == code)
            return entry;
    }
    return -1;
}

QStringList activationEntries()
{
    QStringList texts;
    for (const char *text : kEntryTexts)
        texts << QString::fromUtf8(text);
    return texts;
}

QString modeName(int mode)
{
    return mode >= 1 && mode <= 6 ? QString::fromLatin1(kModeNames[mode - 1])
                                  : QStringLiteral("unknown");
}

QString activationName(int code)
{
    return code >= 1 && code <= 5 ? QString::fromLatin1(kActivationNames[code - 1])
                                  : QStringLiteral("unknown");
}

int activationFromName(const QString &name)
{
    for (int code = 1; code <= 5; ++code) {
        if (name == QLatin1String(kActivationNames[code - 1]))
            return code;
    }
    return 0;
}

QByteArray toBytes(const WorkParam &param)
{
    QByteArray bytes(kSize, '\0');
    vived::putWorkParam(reinterpret_cast<uint8_t *>(bytes.data()), param);
    return bytes;
}

bool fromBytes(const QByteArray &bytes, WorkParam &param)
{
    if (bytes.size() != kSize)
        return false;
    param = vived::getWorkParam(reinterpret_cast<const uint8_t *>(bytes.constData()));
    return true;
}

bool equal(const WorkParam &a, const WorkParam &b)
{
    return toBytes(a) == toBytes(b);
}

} // namespace WorkParamRecord
