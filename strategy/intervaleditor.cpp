#include "intervaleditor.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QValidator>

#include "editorstyle.h"
#include "mylabel.h"
#include "workparam.h"

using namespace EditorStyle;

namespace {
constexpr int kIntervalRow = 60;
constexpr int kActivationRow = 110;
constexpr int kGroupRow = 160;
} // namespace

IntervalEditor::IntervalEditor(const Texts &texts, QWidget *parent)
    : QWidget(parent)
{
    resize(581, 373);
    caption(this, texts.intervalCaption, kIntervalRow);
    m_interval = field(this, kIntervalRow);
    unit(this, texts.intervalUnit, kIntervalRow);

    caption(this, QStringLiteral("激活方式"), kActivationRow);
    m_activation = dropDown(this, kActivationRow);
    m_activation->addItems(WorkParamRecord::activationEntries());

    m_gear = new QCheckBox(this);
    m_gear->setGeometry(kFieldX, kGroupRow, 24, kRowHeight);
    m_groups[0] = {caption(this, texts.gearCaption, kGroupRow), m_gear};

    m_high = radio(this, QStringLiteral("高电平"), kFieldX, kGroupRow);
    m_low = radio(this, QStringLiteral("低电平"), kFieldX + 80, kGroupRow);
    m_groups[1] = {m_high, m_low};

    const struct
    {
        const char *caption;
        const char *unit;
        QLineEdit **edit;
    } valueRows[3] = {{"延迟时间", "s", &m_powerOn},
                      {"延时时间", "s", &m_manual},
                      {"激活相机高度", "m", &m_altitude}};
    for (int i = 0; i < 3; ++i) {
        QLabel *label = caption(this, QString::fromUtf8(valueRows[i].caption), kGroupRow);
        *valueRows[i].edit = field(this, kGroupRow);
        m_groups[2 + i] = {label, *valueRows[i].edit,
                           unit(this, QString::fromUtf8(valueRows[i].unit), kGroupRow)};
    }

    m_setup = EditorStyle::setupButton(this);

    slotcurrentIndexChanged(0);
    connect(m_activation, qOverload<int>(&QComboBox::currentIndexChanged), this,
            &IntervalEditor::slotcurrentIndexChanged);
    connect(m_gear, &QCheckBox::stateChanged, this, &IntervalEditor::onStateChanged);
    connect(m_setup, &Mylabel::clicked, this, &IntervalEditor::onClicked);
}

void IntervalEditor::setFieldValidator(QLineEdit *edit, QValidator *validator)
{
    validator->setParent(edit);
    edit->setValidator(validator);
}

// Hidden groups keep their texts: switching back shows what was typed.
void IntervalEditor::slotcurrentIndexChanged(int index)
{
    if (index < 0 || index >= 5)
        return;
    for (int entry = 0; entry < 5; ++entry) {
        for (QWidget *widget : std::as_const(m_groups[entry]))
            widget->setVisible(entry == index);
    }
}

IntervalForm IntervalEditor::form() const
{
    IntervalForm form;
    form.interval = m_interval->text();
    form.activationEntry = m_activation->currentIndex();
    form.highLevel = m_high->isChecked();
    form.powerOnDelay = m_powerOn->text();
    form.manualDelay = m_manual->text();
    form.altitude = m_altitude->text();
    form.landingGearDown = landingGearDown;
    return form;
}
