#pragma once

#include <QString>

class QMouseEvent;
class QWidget;

// The look shared by every frameless window: a rounded mask and a background picture.
namespace FrameStyle {

// Frameless dialog flags and a window mask of a rounded rectangle over the whole widget.
void makeFramelessRounded(QWidget *window, int radius = 5);

// The window brush becomes the picture at `resource`, scaled to the widget's size.
void setScaledBackground(QWidget *widget, const QString &resource);

// Registers the families the program asks for ("微软雅黑", "Microsoft YaHei", "Adobe Arabic")
// as substitutes of an installed CJK font, so Chinese texts render everywhere.
void registerFontSubstitutions();

// A left press on a title bar: the window system moves the bar's top-level window with the
// pointer.
void dragWindow(QWidget *bar, QMouseEvent *event);

// Moves `box` so that it is centred on the window that holds `over` (each half in whole
// numbers); nothing without one.
void centreOn(QWidget *box, const QWidget *over);

} // namespace FrameStyle
