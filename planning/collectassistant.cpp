#include "collectassistant.h"

#include <QComboBox>
#include <QDoubleValidator>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>

#include "flightplan.h"
#include "framestyle.h"
#include "mylabel.h"
#include "prompt.h"
#include "look.h"

namespace {
constexpr int kInputCaptionX = 30;
constexpr int kInputX = 150;
constexpr int kResultCaptionX = 330;
constexpr int kResultX = 450;
constexpr int kRowHeight = 28;

const QString kCaptionStyle = QStringLiteral("color:#666666;");
const QString kFieldStyle = QStringLiteral(
    "QLineEdit, QComboBox { color: #333333; background: white; border: 1px solid #c9d0d8;"
    " border-radius: 3px; padding-left: 6px; }"
    "QLineEdit:focus { border-color: #00a0e6; }"
    "QComboBox::drop-down { subcontrol-origin: padding; subcontrol-position: center right;"
    " width: 22px; border: none; }"
    "QComboBox::down-arrow { image: url(%1); width: 10px; height: 6px; }"
    "QComboBox QAbstractItemView { color: #333333; background: white;"
    " selection-background-color: #00a0e6; }").arg(Look::resource("combo_arrow.png"));

QLabel *label(QWidget *parent, const QString &text, int x, int y, int w,
              const QString &style = kCaptionStyle)
{
    auto *l = new QLabel(text, parent);
    l->setGeometry(x, y, w, kRowHeight);
    l->setFont(Look::font(10));
    l->setStyleSheet(style);
    return l;
}

QLabel *caption(QWidget *parent, const QString &text, int x, int y)
{
    QLabel *l = label(parent, text, x, y, 112);
    l->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    return l;
}

template <typename Field> Field *field(QWidget *parent, int y, int width = 130)
{
    auto *f = new Field(parent);
    f->setGeometry(kInputX, y, width, kRowHeight);
    f->setFont(Look::font(10));
    f->setStyleSheet(kFieldStyle);
    return f;
}

QDoubleValidator *decimals(double top, QObject *parent)
{
    auto *validator = new QDoubleValidator(0, top, 3, parent);
    QLocale c = QLocale::c();
    c.setNumberOptions(QLocale::RejectGroupSeparator);
    validator->setLocale(c);
    return validator;
}

QLabel *result(QWidget *parent, const QString &captionText, const QString &start, int y)
{
    caption(parent, captionText, kResultCaptionX - 10, y);
    return label(parent, start, kResultX, y, 130, QStringLiteral("color: rgb(0, 160, 230);"));
}
} // namespace

CollectAssistant::CollectAssistant(QWidget *parent)
    : QWidget(parent)
{
    resize(606, 508);
    FrameStyle::setScaledBackground(this, Look::resource("configtest_bk.png"));

    auto *title = label(this, QStringLiteral("航线规划"), 30, 28, 200);
    title->setFont(Look::font(12));
    title->setStyleSheet(QStringLiteral("color:#333333;"));

    int y = 90;
    const int step = 44;
    caption(this, QStringLiteral("相机型号："), kInputCaptionX, y);
    m_model = field<QComboBox>(this, y);
    m_model->addItem(QStringLiteral("VestraneV7"));

    caption(this, QStringLiteral("焦距（mm）:"), kInputCaptionX, y += step);
    m_focal = field<QLineEdit>(this, y);
    m_focal->setText(QStringLiteral("25"));
    m_focal->setValidator(decimals(100, m_focal));

    caption(this, QStringLiteral("重叠度："), kInputCaptionX, y += step);
    m_forward = field<QLineEdit>(this, y);
    m_forward->setText(QStringLiteral("80"));
    m_forward->setValidator(new QIntValidator(0, 100, m_forward));
    label(this, QStringLiteral("%"), kInputX + 136, y, 20);

    caption(this, QStringLiteral("旁向重叠度："), kInputCaptionX, y += step);
    m_side = field<QLineEdit>(this, y);
    m_side->setText(QStringLiteral("80"));
    m_side->setValidator(new QIntValidator(0, 100, m_side));
    label(this, QStringLiteral("%"), kInputX + 136, y, 20);

    caption(this, QStringLiteral("比例尺："), kInputCaptionX, y += step);
    m_scale = field<QComboBox>(this, y);
    m_scale->addItems({QStringLiteral("1:500"), QStringLiteral("1:1000"), QStringLiteral("1:2000"),
                       QStringLiteral("1:5000")});

    caption(this, QStringLiteral("GSD（cm）："), kInputCaptionX, y += step);
    m_gsd = field<QLineEdit>(this, y);
    m_gsd->setText(QStringLiteral("5"));
    m_gsd->setValidator(decimals(100, m_gsd));

    caption(this, QStringLiteral("地速（m/s）："), kInputCaptionX, y += step);
    m_speed = field<QLineEdit>(this, y);
    m_speed->setText(QStringLiteral("20"));
    m_speed->setValidator(decimals(200, m_speed));

    int r = 90;
    m_height = result(this, QStringLiteral("飞行高度："), QStringLiteral("300m"), r);
    m_spacing = result(this, QStringLiteral("航向间隔："), QStringLiteral("30m"), r += step);
    m_line = result(this, QStringLiteral("航线间隔："), QStringLiteral("56m"), r += step);
    m_across = result(this, QStringLiteral("旁向覆盖："), QStringLiteral("282.0m"), r += step);
    m_along = result(this, QStringLiteral("航向覆盖："), QStringLiteral("152.0m"), r += step);
    m_interval = result(this, QStringLiteral("拍照间隔："), QStringLiteral("1.50s"), r += step);
    m_warning = label(this, QString(), kResultCaptionX, r + step, 250,
                      QStringLiteral("color: rgb(230, 100, 30);"));
    m_warning->setGeometry(kResultCaptionX, r + step - 4, 250, 2 * kRowHeight + 8);
    m_warning->setWordWrap(true);
    m_warning->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    m_calculate = new Mylabel(this);
    m_calculate->setGeometry(249, 440, 108, 32);
    m_calculate->setScaledContents(true);
    m_calculate->setPixmap(Look::picture("calc.png"));

    connect(m_calculate, &Mylabel::clicked, this, &CollectAssistant::onClicked);
    connect(m_forward, &QLineEdit::textEdited, this, &CollectAssistant::slot_modifyText);
    connect(m_side, &QLineEdit::textEdited, this, &CollectAssistant::slot_modifyText2);
    connect(m_gsd, &QLineEdit::textEdited, this, &CollectAssistant::slot_modifyText1);
    connect(m_scale, &QComboBox::textActivated, this, &CollectAssistant::setText1);
}

void CollectAssistant::slot_modifyText(const QString &text)
{
    m_forward->setText(FlightPlan::clampOverlap(text));
}

void CollectAssistant::slot_modifyText2(const QString &text)
{
    m_side->setText(FlightPlan::clampOverlap(text));
}

void CollectAssistant::slot_modifyText1(const QString &text)
{
    const int entry = FlightPlan::scaleEntryForGsd(text);
    if (entry >= 0)
        m_scale->setCurrentIndex(entry);
}

void CollectAssistant::setText1(const QString &text)
{
    const QString gsd = FlightPlan::gsdForScale(text);
    if (!gsd.isEmpty())
        m_gsd->setText(gsd);
}

void CollectAssistant::onClicked()
{
    PlanInput input;
    input.gsd = m_gsd->text();
    input.focal = m_focal->text();
    input.forwardOverlap = m_forward->text();
    input.sideOverlap = m_side->text();
    input.speed = m_speed->text();
    const PlanResult plan = FlightPlan::calculate(input);
    if (!plan.ok()) {
        Prompt::inform(this, plan.message);
        return;
    }
    m_height->setText(FlightPlan::metresText(plan.flyingHeight));
    m_spacing->setText(FlightPlan::metresText(plan.exposureSpacing));
    m_line->setText(FlightPlan::metresText(plan.lineSpacing));
    m_across->setText(FlightPlan::footprintText(plan.footprintAcross));
    m_along->setText(FlightPlan::footprintText(plan.footprintAlong));
    m_interval->setText(plan.shortestInterval < 0
                            ? QStringLiteral("--")
                            : FlightPlan::intervalText(plan.shortestInterval));
    m_warning->setText(plan.tooFast ? FlightPlan::warningText() : QString());
}
