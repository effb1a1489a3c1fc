#include "ioexternaloptui.h"

#include <QDoubleValidator>
#include <QLineEdit>
#include <QRadioButton>

#include "applyworkparam.h"
#include "editorstyle.h"
#include "mylabel.h"

using namespace EditorStyle;

IOExternalOptUi::IOExternalOptUi(QWidget *parent)
    : QWidget(parent)
{
    resize(581, 373);
    m_high = radio(this, QStringLiteral("高电平"), kFieldX, 80);
    m_low = radio(this, QStringLiteral("低电平"), kFieldX + 80, 80);
    caption(this, QStringLiteral("持续时间"), 140);
    m_duration = field(this, 140);
    QDoubleValidator *validator = numberValidator();
    validator->setParent(m_duration);
    m_duration->setValidator(validator);
    unit(this, QStringLiteral("ms"), 140);
    m_setup = EditorStyle::setupButton(this);
    connect(m_setup, &Mylabel::clicked, this, &IOExternalOptUi::onClicked);
}

IoForm IOExternalOptUi::form() const
{
    return IoForm{m_high->isChecked(), m_duration->text()};
}

void IOExternalOptUi::setForm(const IoForm &form)
{
    (form.highLevel ? m_high : m_low)->setChecked(true);
    m_duration->setText(form.duration);
}

void IOExternalOptUi::onClicked()
{
    StrategyApply::applyWorkParam(
        this, [this](const WorkParam &current) { return TriggerChecks::io(form(), current); });
}
