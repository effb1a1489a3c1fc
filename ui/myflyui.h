#pragma once

#include <QDialog>

class QLabel;
class QTimer;
class Mylabel;

// The modal message with one OK button; with its rotating picture shown it is the busy box.
class MyFlyUi : public QDialog
{
    Q_OBJECT
public:
    explicit MyFlyUi(QWidget *parent = nullptr);

    QLabel *label_2 = nullptr;    // main text
    QLabel *label_3 = nullptr;    // second text
    QLabel *rotating = nullptr;   // busy picture, hidden until a caller shows it
    QTimer *rotationTimer = nullptr;
    QLabel *okImage = nullptr;
    Mylabel *okText = nullptr;
    int rotationCount = 0;

public slots:
    void onClicked();
    void onTimeout();
};
