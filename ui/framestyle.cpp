#include "framestyle.h"
#include "look.h"

#include <QBitmap>
#include <QFont>
#include <QFontDatabase>
#include <QMouseEvent>
#include <QPainter>
#include <QPalette>
#include <QPixmap>
#include <QWidget>
#include <QWindow>

namespace FrameStyle {

void makeFramelessRounded(QWidget *window, int radius)
{
    window->setWindowFlags(Qt::FramelessWindowHint | Qt::Dialog);
    QBitmap mask(window->size());
    mask.fill(Qt::color0);
    QPainter painter(&mask);
    painter.setPen(Qt::NoPen);
    painter.setBrush(Qt::color1);
    painter.drawRoundedRect(mask.rect(), radius, radius);
    window->setMask(mask);
}

void setScaledBackground(QWidget *widget, const QString &resource)
{
    QPalette palette = widget->palette();
    palette.setColor(QPalette::Window, QColor(50, 50, 50));
    const QPixmap picture(resource);
    if (!picture.isNull())
        palette.setBrush(QPalette::Window,
                         QBrush(picture.scaled(widget->size(), Qt::IgnoreAspectRatio,
                                               Qt::SmoothTransformation)));
    widget->setPalette(palette);
    widget->setAutoFillBackground(true);
}

void registerFontSubstitutions()
{
    static const QStringList candidates = {
        QStringLiteral("WenQuanYi Micro Hei"), QStringLiteral("Noto Sans CJK SC"),
        QStringLiteral("WenQuanYi Zen Hei"), QStringLiteral("Droid Sans Fallback")};
    const QStringList installed = QFontDatabase::families();
    QStringList substitutes;
    for (const QString &family : candidates) {
        if (installed.contains(family))
            substitutes << family;
    }
    if (substitutes.isEmpty())
        return;
    for (const QString &asked :
         {Look::fontFamily(), QStringLiteral("Microsoft YaHei"), QStringLiteral("Adobe Arabic")})
        QFont::insertSubstitutions(asked, substitutes);
}

void dragWindow(QWidget *bar, QMouseEvent *event)
{
    QWidget *top = bar->window();
    if (event->button() == Qt::LeftButton && top->isWindow() && top->windowHandle())
        top->windowHandle()->startSystemMove();
}

void centreOn(QWidget *box, const QWidget *over)
{
    const QWidget *main = over ? over->window() : nullptr;
    if (!main)
        return;
    box->move(main->x() + main->width() / 2 - box->width() / 2,
              main->y() + main->height() / 2 - box->height() / 2);
}

} // namespace FrameStyle
