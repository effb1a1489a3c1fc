#include "crashdump.h"

namespace CrashDump {

void installCrashHandler()
{
}

} // namespace CrashDump
