#pragma once

#include <QList>
#include <QString>

class QDialog;
class QLabel;
class Mylabel;

// The frame both prompt dialogs share: 322 x 160, rounded, warning-box background, tip icon.
namespace PromptDialog {

void setUpFrame(QDialog *dialog, const char *objectName);

// A white, centred text label at the given geometry.
QLabel *textLabel(QDialog *dialog, int x, int y, int w, int h, const QString &text);

// Shows the texts whole: wrapped, the dialog as tall (and, for a long unbroken path, as wide) as
// they need within the main window's 760 x 540, scrolled beyond that. The other widgets keep
// their places relative to the dialog's centre and bottom. Call once the texts are set.
void fitTexts(QDialog *dialog, const QList<QLabel *> &texts);

// A button made of the blue image and a text Mylabel of the same geometry over it.
Mylabel *textButton(QDialog *dialog, int x, int y, const QString &text, QLabel **image = nullptr);

} // namespace PromptDialog
