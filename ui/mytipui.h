#pragma once

#include <QDialog>

class QLabel;
class Mylabel;

// The modal yes/no question; exec() gives 1 for "是" and 0 for anything else.
class MyTipUi : public QDialog
{
    Q_OBJECT
public:
    explicit MyTipUi(QWidget *parent = nullptr);

    QLabel *label_2 = nullptr; // the question
    Mylabel *yesLabel() const { return m_yes; }
    Mylabel *noLabel() const { return m_no; }

public slots:
    void onClicked();

private:
    Mylabel *m_yes = nullptr;
    Mylabel *m_no = nullptr;
};
