#pragma once

#include <QString>

// The rules every numeric field of the program shares: what counts as an illegal text, what its
// integer part is, and how it is cut down to the unit of a record field without rounding.
namespace InputCheck {

// "输入值非法"
QString illegalText();

// True for a text with "+", "e" or "E", one that begins or ends with ".", and anything else
// that is not plain digits with at most one point (a minus sign, a second point, letters,
// spaces). The empty text is not illegal: the editors report it as missing, later.
bool isIllegal(const QString &text);

// The part before the first ".", whose length the field limits are checked on.
QString integerPart(const QString &text);

// The value of a text that passed isIllegal(); 0 for the empty text.
double value(const QString &text);

// The value truncated toward zero, in whole units or in tenths, taken from the digits
// themselves so that 2.3 gives 23 tenths and never 22. -1 when it would exceed `limit`.
qint64 truncatedWhole(const QString &text, qint64 limit);
qint64 truncatedTenths(const QString &text, qint64 limit);

} // namespace InputCheck
