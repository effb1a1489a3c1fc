#pragma once

#include <QString>

class QWidget;

// The program's way to tell the operator something: the one-button box, centred on the window
// that holds `parent` and run modally.
namespace Prompt {

int inform(QWidget *parent, const QString &text, const QString &second = QString());

// The yes/no question; true only for "是".
bool ask(QWidget *parent, const QString &question);

} // namespace Prompt
