#include "editorstyle.h"

#include <QComboBox>
#include <QDoubleValidator>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>

#include "mylabel.h"
#include "look.h"

namespace EditorStyle {

namespace {
const QString kTextStyle = QStringLiteral("color:#666666;");
} // namespace

QLabel *caption(QWidget *parent, const QString &text, int y)
{
    auto *label = new QLabel(text, parent);
    label->setGeometry(20, y, kFieldX - 30, kRowHeight);
    label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    label->setFont(Look::font(10));
    label->setStyleSheet(kTextStyle);
    return label;
}

QLineEdit *field(QWidget *parent, int y)
{
    auto *edit = new QLineEdit(parent);
    edit->setGeometry(kFieldX, y, kFieldWidth, kRowHeight);
    edit->setFont(Look::font(10));
    edit->setStyleSheet(
        QStringLiteral("QLineEdit { color: #333333; background: white; border: 1px solid #c9d0d8;"
                       " border-radius: 3px; padding-left: 6px; }"
                       "QLineEdit:focus { border-color: #00a0e6; }"));
    return edit;
}

QLabel *unit(QWidget *parent, const QString &text, int y)
{
    auto *label = new QLabel(text, parent);
    label->setGeometry(kFieldX + kFieldWidth + 8, y, 40, kRowHeight);
    label->setFont(Look::font(10));
    label->setStyleSheet(kTextStyle);
    return label;
}

QComboBox *dropDown(QWidget *parent, int y)
{
    auto *box = new QComboBox(parent);
    box->setGeometry(kFieldX, y, kFieldWidth, kRowHeight);
    box->setFont(Look::font(10));
    box->setStyleSheet(QStringLiteral(
        "QComboBox { color: #333333; background: white; border: 1px solid #c9d0d8;"
        " border-radius: 3px; padding-left: 6px; }"
        "QComboBox::drop-down { subcontrol-origin: padding; subcontrol-position: center right;"
        " width: 22px; border: none; }"
        "QComboBox::down-arrow { image: url(%1); width: 10px;"
        " height: 6px; }"
        "QComboBox QAbstractItemView { color: #333333; background: white;"
        " selection-background-color: #00a0e6; }").arg(Look::resource("combo_arrow.png")));
    return box;
}

QRadioButton *radio(QWidget *parent, const QString &text, int x, int y)
{
    auto *button = new QRadioButton(text, parent);
    button->setGeometry(x, y, 90, kRowHeight);
    button->setFont(Look::font(10));
    button->setStyleSheet(kTextStyle);
    return button;
}

QDoubleValidator *numberValidator(double top)
{
    auto *validator = new QDoubleValidator(0, top, 3);
    QLocale c = QLocale::c();
    c.setNumberOptions(QLocale::RejectGroupSeparator);
    validator->setLocale(c);
    return validator;
}

Mylabel *setupButton(QWidget *parent)
{
    auto *button = new Mylabel(parent);
    button->setGeometry(260, 270, 84, 27);
    button->setPixmap(Look::picture("setup_normal.png"));
    button->setScaledContents(true);
    return button;
}

} // namespace EditorStyle
