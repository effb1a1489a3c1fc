#include "airserial.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QStackedWidget>

#include "framestyle.h"
#include "mylabel.h"
#include "qnetconfig.h"
#include "look.h"

WifiTitleBar::WifiTitleBar(QWidget *parent)
    : QWidget(parent)
{
    setFixedSize(246, 32);
    FrameStyle::setScaledBackground(this, Look::resource("bjs.png"));
    auto *title = new QLabel(QStringLiteral("连接设置"), this);
    title->setFont(QFont(QStringLiteral("Microsoft YaHei"), 11));
    title->setStyleSheet(QStringLiteral("color:rgb(255, 255, 255);"));
    m_close = new Mylabel(this);
    m_close->setFixedSize(12, 12);
    m_close->setPixmap(Look::picture("close.png"));
    m_close->setScaledContents(true);

    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(5, 0, 10, 0);
    layout->setSpacing(0);
    layout->addSpacing(5);
    layout->addWidget(title);
    layout->addSpacing(200);
    layout->addWidget(m_close);
    connect(m_close, &Mylabel::clicked, this, &WifiTitleBar::onClicked);
}

void WifiTitleBar::onClicked()
{
    QWidget *top = window();
    if (sender() == m_close && top->isWindow())
        top->hide();
}

void WifiTitleBar::mousePressEvent(QMouseEvent *event)
{
    FrameStyle::dragWindow(this, event);
    event->ignore();
}

void WifiTitleBar::mouseDoubleClickEvent(QMouseEvent *)
{
}

AirSerial *AirSerial::instance(QWidget *parent)
{
    static AirSerial *window = new AirSerial(parent);
    return window;
}

AirSerial::AirSerial(QWidget *parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("AirSerial"));
    setFixedSize(243, 170);
    setWindowFlags(Qt::FramelessWindowHint | Qt::Dialog);
    FrameStyle::makeFramelessRounded(this);
    FrameStyle::setScaledBackground(this, Look::resource("bjs.png"));
    m_titleBar = new WifiTitleBar(this);
    installEventFilter(m_titleBar);
    m_stack = new QStackedWidget(this);
    m_stack->setGeometry(0, 57, 243, 125);
    m_stack->addWidget(QNetConfig::instance());
    m_stack->setCurrentIndex(0);
}
