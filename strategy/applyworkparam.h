#pragma once

#include <QString>

#include <functional>

#include "triggerchecks.h"

class QWidget;

// The way every trigger editor's setup button sends a record: connection, the camera's current
// record as the starting point, the editor's checks, the question, the record, "设置完成".
namespace StrategyApply {

// The editor's fields written over the camera's current record, with all its checks: the
// operator is asked to switch only for a record that passes them.
using Fill = std::function<CheckResult(const WorkParam &current)>;

// True when the record went to the camera. The library's answer is not waited for: the
// camera's new state shows in the status refreshes and the main window's strategy label.
bool applyWorkParam(QWidget *editor, const Fill &fill);

} // namespace StrategyApply
