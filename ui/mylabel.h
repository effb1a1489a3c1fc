#pragma once

#include <QLabel>

// The clickable image or text label that serves as every button of the program.
class Mylabel : public QLabel
{
    Q_OBJECT
public:
    explicit Mylabel(QWidget *parent = nullptr);

signals:
    void clicked();
    void clickleave();
    void enterEvent();
    void leaveEvent();

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void enterEvent(QEnterEvent *event) override;
    void leaveEvent(QEvent *event) override;
};
