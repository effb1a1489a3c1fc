#include "edgeexternaloptui.h"

#include <QRadioButton>

#include "applyworkparam.h"
#include "editorstyle.h"
#include "mylabel.h"

using namespace EditorStyle;

EdgeExternalOptUi::EdgeExternalOptUi(QWidget *parent)
    : QWidget(parent)
{
    resize(581, 373);
    m_rising = radio(this, QStringLiteral("上升沿"), kFieldX, 120);
    m_falling = radio(this, QStringLiteral("下降沿"), kFieldX + 80, 120);
    m_setup = EditorStyle::setupButton(this);
    connect(m_setup, &Mylabel::clicked, this, &EdgeExternalOptUi::onClicked);
}

bool EdgeExternalOptUi::rising() const
{
    return m_rising->isChecked();
}

void EdgeExternalOptUi::setRising(bool rising)
{
    (rising ? m_rising : m_falling)->setChecked(true);
}

void EdgeExternalOptUi::onClicked()
{
    StrategyApply::applyWorkParam(
        this, [this](const WorkParam &current) { return TriggerChecks::edge(rising(), current); });
}
