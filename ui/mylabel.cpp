#include "mylabel.h"

#include <QMouseEvent>

Mylabel::Mylabel(QWidget *parent)
    : QLabel(parent)
{
}

void Mylabel::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton)
        emit clicked();
}

void Mylabel::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton)
        emit clickleave();
}

void Mylabel::enterEvent(QEnterEvent *)
{
    setCursor(Qt::PointingHandCursor);
    emit enterEvent();
}

void Mylabel::leaveEvent(QEvent *)
{
    setCursor(Qt::ArrowCursor);
    emit leaveEvent();
}
