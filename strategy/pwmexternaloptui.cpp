#include "pwmexternaloptui.h"

#include <QDoubleValidator>
#include <QLineEdit>

#include "applyworkparam.h"
#include "editorstyle.h"
#include "mylabel.h"

using namespace EditorStyle;

PWMExternalOptUi::PWMExternalOptUi(QWidget *parent)
    : QWidget(parent)
{
    resize(581, 373);
    QLineEdit **edits[3] = {&m_pulseDuration, &m_pulseTime, &m_period};
    const char *const captions[3] = {"脉冲持续时间：", "脉冲时间：", "周期："};
    for (int row = 0; row < 3; ++row) {
        const int y = 60 + 50 * row;
        caption(this, QString::fromUtf8(captions[row]), y);
        *edits[row] = field(this, y);
        QDoubleValidator *validator = numberValidator();
        validator->setParent(*edits[row]);
        (*edits[row])->setValidator(validator);
        unit(this, QStringLiteral("ms"), y);
    }
    m_setup = EditorStyle::setupButton(this);
    connect(m_setup, &Mylabel::clicked, this, &PWMExternalOptUi::onClicked);
}

PwmForm PWMExternalOptUi::form() const
{
    return PwmForm{m_pulseDuration->text(), m_pulseTime->text(), m_period->text()};
}

void PWMExternalOptUi::setForm(const PwmForm &form)
{
    m_pulseDuration->setText(form.pulseDuration);
    m_pulseTime->setText(form.pulseTime);
    m_period->setText(form.period);
}

void PWMExternalOptUi::onClicked()
{
    StrategyApply::applyWorkParam(
        this, [this](const WorkParam &current) { return TriggerChecks::pwm(form(), current); });
}
