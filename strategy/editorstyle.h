#pragma once

#include <QString>

class QComboBox;
class QDoubleValidator;
class QLabel;
class QLineEdit;
class QRadioButton;
class QWidget;
class Mylabel;

// The look the trigger editors share: grey captions in "微软雅黑", framed fields, the setup
// button in its fixed place.
namespace EditorStyle {

// A caption right-aligned so that it ends where the fields begin.
QLabel *caption(QWidget *parent, const QString &text, int y);
QLineEdit *field(QWidget *parent, int y);
QLabel *unit(QWidget *parent, const QString &text, int y);
QComboBox *dropDown(QWidget *parent, int y);
QRadioButton *radio(QWidget *parent, const QString &text, int x, int y);
// 0..top with three decimals, in the C locale without group separators. Numbers above the top
// stay typeable (the validator calls them intermediate) so that the checks can answer them.
QDoubleValidator *numberValidator(double top = 500);
// The "setup" picture at (260, 270), 84 x 27.
Mylabel *setupButton(QWidget *parent);

constexpr int kFieldX = 260;
constexpr int kFieldWidth = 150;
constexpr int kRowHeight = 28;

} // namespace EditorStyle
