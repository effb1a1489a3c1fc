#pragma once

#include <QString>

#include "triggerforms.h"
#include "v7k.h"

// The record an editor would send, or the message that refuses it.
struct CheckResult
{
    WorkParam record{};
    QString message;

    bool ok() const { return message.isEmpty(); }
};

// The checks of the five trigger editors, without widgets: each takes the editor's texts and the
// camera's current record and returns the record to send, which carries over every field the
// editor does not write. The pages and `v7tool strategy set` both go through them.
namespace TriggerChecks {

QString landingGearText(); // "请检查是否连接起落架！"
QString missingText();     // "有参数未输入!"

// Timer editor. Everything is checked before the operator is asked; the interval may carry one
// decimal (the record counts tenths of a second) and further decimals are cut off. Its delay and
// altitude fields follow the distance editor's rules (legal text, below 10000, cut to whole
// units), so that no value the camera keeps in 16 bits can wrap.
CheckResult timer(const IntervalForm &form, const WorkParam &current);

// Distance editor: the activation field first, then the interval, then the missing fields.
CheckResult distance(const IntervalForm &form, const WorkParam &current);

CheckResult pwm(const PwmForm &form, const WorkParam &current);
CheckResult io(const IoForm &form, const WorkParam &current);
CheckResult edge(bool rising, const WorkParam &current);

} // namespace TriggerChecks
