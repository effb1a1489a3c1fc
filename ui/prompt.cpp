#include "prompt.h"

#include <QLabel>

#include "framestyle.h"
#include "myflyui.h"
#include "mytipui.h"
#include "promptdialog.h"

namespace Prompt {

int inform(QWidget *parent, const QString &text, const QString &second)
{
    MyFlyUi box(parent);
    box.label_2->setText(text);
    box.label_3->setText(second);
    PromptDialog::fitTexts(&box, {box.label_2, box.label_3});
    FrameStyle::centreOn(&box, parent);
    return box.exec();
}

bool ask(QWidget *parent, const QString &question)
{
    MyTipUi tip(parent);
    tip.label_2->setText(question);
    PromptDialog::fitTexts(&tip, {tip.label_2});
    FrameStyle::centreOn(&tip, parent);
    return tip.exec() == 1;
}

} // namespace Prompt
