#include "promptdialog.h"

#include <QDialog>
#include <QFont>
#include <QFontMetrics>
#include <QLabel>
#include <QScrollArea>
#include <QScrollBar>
#include <QVBoxLayout>

#include <algorithm>

#include "framestyle.h"
#include "mylabel.h"
#include "look.h"

namespace PromptDialog {

void setUpFrame(QDialog *dialog, const char *objectName)
{
    dialog->setObjectName(QString::fromLatin1(objectName));
    dialog->setFixedSize(322, 160);
    FrameStyle::makeFramelessRounded(dialog);
    FrameStyle::setScaledBackground(dialog, Look::resource("bg_warningbox.png"));
    auto *icon = new QLabel(dialog);
    icon->setObjectName(QStringLiteral("label"));
    icon->setGeometry(10, 8, 24, 24);
    icon->setPixmap(Look::picture("tishi.png"));
    icon->setScaledContents(true);
}

QLabel *textLabel(QDialog *dialog, int x, int y, int w, int h, const QString &text)
{
    auto *label = new QLabel(text, dialog);
    label->setGeometry(x, y, w, h);
    label->setFont(Look::font(12));
    label->setStyleSheet(QStringLiteral("color: rgb(255, 255, 255);"));
    label->setAlignment(Qt::AlignCenter);
    return label;
}

void fitTexts(QDialog *dialog, const QList<QLabel *> &texts)
{
    constexpr int Base = 322; // the frame's own size, 322 x 160
    constexpr int BaseHeight = 160;
    constexpr int MostWidth = 760; // the main window's
    constexpr int MostHeight = 540;
    constexpr int Margin = 16;
    constexpr int Top = 38;
    constexpr int Spacing = 6;
    // What stands below the texts (the buttons) keeps its distance from the bottom.
    QList<QWidget *> below;
    QList<QWidget *> others;
    int belowTop = BaseHeight - 50;
    for (QWidget *child : dialog->findChildren<QWidget *>(Qt::FindDirectChildrenOnly)) {
        if (texts.contains(child) || child->objectName() == QLatin1String("label") ||
            qobject_cast<QScrollArea *>(child))
            continue;
        if (child->y() >= 90) {
            below << child;
            belowTop = std::min(belowTop, child->y());
        } else {
            others << child;
        }
    }
    const int chrome = Top + (BaseHeight - belowTop) + Spacing;

    // The texts' size at a width: wrapped at word boundaries, and wider where a path or a
    // number cannot be broken.
    const auto measure = [&texts](int width) {
        QSize size(width, 0);
        int shown = 0;
        for (QLabel *label : texts) {
            if (label->text().isEmpty())
                continue;
            const QRect r = QFontMetrics(label->font())
                                .boundingRect(QRect(0, 0, width, 100000),
                                              Qt::TextWordWrap | Qt::AlignHCenter, label->text());
            size.setWidth(std::max(size.width(), r.width()));
            size.rheight() += r.height() + (shown++ ? Spacing : 0);
        }
        return size;
    };
    int width = Base;
    QSize need = measure(width - 2 * Margin);
    for (int w : {420, 540, 660, MostWidth}) {
        if (need.width() <= width - 2 * Margin && need.height() + chrome <= MostHeight)
            break;
        width = w;
        need = measure(width - 2 * Margin);
    }
    const int height = std::clamp(need.height() + chrome, BaseHeight, MostHeight);

    auto *area = new QScrollArea(dialog);
    area->setObjectName(QStringLiteral("promptTexts"));
    area->setFrameShape(QFrame::NoFrame);
    area->setStyleSheet(QStringLiteral("QScrollArea, QScrollArea > QWidget > QWidget "
                                       "{ background: transparent; }"));
    area->setGeometry(Margin / 2, Top, width - Margin, height - chrome);
    auto *content = new QWidget;
    auto *layout = new QVBoxLayout(content);
    layout->setContentsMargins(Margin / 2, 0, Margin / 2, 0);
    layout->setSpacing(Spacing);
    layout->addStretch();
    for (QLabel *label : texts) {
        label->setWordWrap(true);
        label->setAlignment(Qt::AlignCenter);
        label->setMinimumSize(0, 0);
        label->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
        label->setVisible(!label->text().isEmpty());
        layout->addWidget(label);
    }
    layout->addStretch();
    content->setMinimumWidth(std::max(need.width(), width - 2 * Margin) + Margin);
    area->setWidget(content);
    area->setWidgetResizable(true);

    const int dx = (width - Base) / 2;
    const int dy = height - BaseHeight;
    for (QWidget *w : std::as_const(below))
        w->move(w->x() + dx, w->y() + dy);
    for (QWidget *w : std::as_const(others))
        w->move(w->x() + dx, w->y());
    if (width == Base && height == BaseHeight)
        return;
    dialog->setFixedSize(width, height);
    FrameStyle::makeFramelessRounded(dialog);
    FrameStyle::setScaledBackground(dialog, Look::resource("bg_warningbox.png"));
}

Mylabel *textButton(QDialog *dialog, int x, int y, const QString &text, QLabel **image)
{
    auto *back = new QLabel(dialog);
    back->setGeometry(x, y, 108, 30);
    back->setPixmap(Look::picture("btn_B_nor.png"));
    back->setScaledContents(true);
    auto *label = new Mylabel(dialog);
    label->setGeometry(x, y, 108, 30);
    label->setText(text);
    label->setFont(QFont(QStringLiteral("Adobe Arabic"), 12));
    label->setStyleSheet(QStringLiteral("color: rgb(255, 255, 255);"));
    label->setAlignment(Qt::AlignCenter);
    if (image)
        *image = back;
    return label;
}

} // namespace PromptDialog
