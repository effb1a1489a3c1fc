#include "gatherstrategyoptui.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QRadioButton>
#include <QStackedWidget>

#include "cameralink.h"
#include "distanceautooptui.h"
#include "edgeexternaloptui.h"
#include "framestyle.h"
#include "ioexternaloptui.h"
#include "mylabel.h"
#include "pwmexternaloptui.h"
#include "timerautooptui.h"
#include "triggerforms.h"
#include "workparam.h"
#include "look.h"

namespace {
struct ButtonLook
{
    int x;
    int width;
    const char *image; // base name: <image>_normal.png and <image>_click.png
};
constexpr ButtonLook kButtons[GatherStrategyOptUi::PageCount] = {
    {2, 104, "fixeddiatance"}, {106, 104, "fixedtime"}, {208, 119, "elge"},
    {327, 120, "IO"},          {447, 139, "pwm"},
};

QPixmap buttonImage(int page, bool selected)
{
    return QPixmap(Look::resource("%1_%2.png")
                       .arg(QLatin1String(kButtons[page].image),
                            selected ? QLatin1String("click") : QLatin1String("normal")));
}

void fillInterval(IntervalEditor *editor, const IntervalForm &form)
{
    editor->intervalEdit()->setText(form.interval);
    (form.highLevel ? editor->highButton() : editor->lowButton())->setChecked(true);
    editor->powerOnEdit()->setText(form.powerOnDelay);
    editor->manualEdit()->setText(form.manualDelay);
    editor->altitudeEdit()->setText(form.altitude);
}
} // namespace

GatherStrategyOptUi *GatherStrategyOptUi::instance()
{
    static GatherStrategyOptUi *page = new GatherStrategyOptUi();
    return page;
}

GatherStrategyOptUi::GatherStrategyOptUi(QWidget *parent)
    : QWidget(parent)
{
    resize(584, 415);
    FrameStyle::setScaledBackground(this, Look::resource("smal_bk.png"));
    for (int page = 0; page < PageCount; ++page) {
        auto *button = new Mylabel(this);
        button->setGeometry(kButtons[page].x, 20, kButtons[page].width, 35);
        button->setScaledContents(true);
        button->setPixmap(buttonImage(page, page == DistancePage));
        connect(button, &Mylabel::clicked, this, &GatherStrategyOptUi::onClicked);
        m_buttons[page] = button;
    }
    m_stack = new QStackedWidget(this);
    m_stack->setGeometry(0, 62, 581, 373);
    m_distance = new DistanceAutoOptUi(this);
    m_timer = new TimerAutoOptUi(this);
    m_edge = new EdgeExternalOptUi(this);
    m_io = new IOExternalOptUi(this);
    m_pwm = new PWMExternalOptUi(this);
    for (QWidget *editor :
         std::initializer_list<QWidget *>{m_distance, m_timer, m_edge, m_io, m_pwm})
        m_stack->addWidget(editor);
    m_stack->setCurrentIndex(DistancePage);

    connect(CameraLink::instance(), &CameraLink::workParamsArrived, this,
            &GatherStrategyOptUi::loadFromCamera);
}

void GatherStrategyOptUi::select(Page page)
{
    for (int other = 0; other < PageCount; ++other)
        m_buttons[other]->setPixmap(buttonImage(other, other == page));
    m_stack->setCurrentIndex(page);
}

void GatherStrategyOptUi::onClicked()
{
    for (int page = 0; page < PageCount; ++page) {
        if (sender() == m_buttons[page])
            select(Page(page));
    }
}

void GatherStrategyOptUi::loadFromCamera(const WorkParam &record)
{
    const v7k_context *device = CameraLink::instance()->deviceHandle();
    if (!device)
        return;
    const bool gearDown = device->landingGear != 0;
    const TriggerForms forms = TriggerForms::fromRecord(record, gearDown);

    switch (WorkMode(record.mode)) {
    case WorkMode::FixedTime:
        select(TimerPage);
        if (forms.activationEntry >= 0)
            m_timer->activationBox()->setCurrentIndex(forms.activationEntry);
        break;
    case WorkMode::FixedDistance:
        select(DistancePage);
        if (forms.activationEntry >= 0)
            m_distance->activationBox()->setCurrentIndex(forms.activationEntry);
        break;
    case WorkMode::Pwm:
        select(PwmPage);
        break;
    case WorkMode::Io:
        select(IoPage);
        break;
    case WorkMode::Edge:
        select(EdgePage);
        break;
    default:
        break;
    }
    fillInterval(m_timer, forms.timer);
    fillInterval(m_distance, forms.distance);
    m_edge->setRising(forms.edgeRising);
    m_io->setForm(forms.io);
    m_pwm->setForm(forms.pwm);

    // A changed box runs the editors' own handlers, which may ask about the landing gear.
    m_timer->landingGearDown = gearDown;
    m_distance->landingGearDown = gearDown;
    m_timer->gearBox()->setChecked(gearDown);
    m_distance->gearBox()->setChecked(gearDown);
}
