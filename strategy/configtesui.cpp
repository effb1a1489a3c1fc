#include "configtesui.h"

#include <QLabel>
#include <QStackedWidget>

#include "devicedebugopt.h"
#include "framestyle.h"
#include "gatherstrategyoptui.h"
#include "mylabel.h"
#include "look.h"

namespace {
const QString kSelected = QStringLiteral("color: rgb(0, 185, 255);");
const QString kUnselected = QStringLiteral("color: rgb(120, 120, 120);");

Mylabel *tab(QWidget *parent, const QString &text, int x)
{
    auto *label = new Mylabel(parent);
    label->setText(text);
    label->setGeometry(x, 48, 51, 21);
    QFont font(QStringLiteral("Microsoft YaHei"), 9);
    font.setBold(true);
    label->setFont(font);
    label->setAlignment(Qt::AlignCenter);
    return label;
}
} // namespace

ConfigTesUi::ConfigTesUi(QWidget *parent)
    : QWidget(parent)
{
    resize(606, 508);
    FrameStyle::setScaledBackground(this, Look::resource("configtest_bk.png"));
    m_header = new QLabel(this);
    m_header->setGeometry(0, 0, 606, 84);
    m_strategyTab = tab(this, QStringLiteral("采集策略"), 37);
    m_debugTab = tab(this, QStringLiteral("设备调试"), 143);
    connect(m_strategyTab, &Mylabel::clicked, this, &ConfigTesUi::onClicked);
    connect(m_debugTab, &Mylabel::clicked, this, &ConfigTesUi::onClicked);

    m_stack = new QStackedWidget(this);
    m_stack->setGeometry(10, 84, 584, 415);
    m_stack->addWidget(GatherStrategyOptUi::instance());
    m_stack->addWidget(DeviceDebugOpt::instance());
    selectTab(true);
}

void ConfigTesUi::selectTab(bool strategy)
{
    m_strategyTab->setStyleSheet(strategy ? kSelected : kUnselected);
    m_debugTab->setStyleSheet(strategy ? kUnselected : kSelected);
    m_stack->setCurrentIndex(strategy ? 0 : 1);
    m_header->setPixmap(QPixmap(strategy ? Look::resource("caijicelv.png")
                                         : Look::resource("sehbeitiaoshi.png")));
}

void ConfigTesUi::onClicked()
{
    selectTab(sender() == m_strategyTab);
}
