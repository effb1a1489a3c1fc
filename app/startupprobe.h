#pragma once

class QWidget;

// For the start-up benchmark: with V7_STARTUP_PROBE set, the first paint of the main window
// prints the monotonic clock in nanoseconds ("first-paint <ns>") and ends the program.
namespace StartupProbe {
void watch(QWidget *window);
}
