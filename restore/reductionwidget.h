#pragma once

#include <QWidget>

// Page of the content area; its controls arrive with the feature that fills it.
class ReductionWidget : public QWidget
{
    Q_OBJECT
public:
    static ReductionWidget *instance();
    explicit ReductionWidget(QWidget *parent = nullptr);
    // Last figures per card, centre, left, right, back, front; (0, 0) = no card.
    double freeGiB[5] = {};
    double totalGiB[5] = {};

public slots:
    void setStorage(int position, double freeGiB, double totalGiB);
    void refreshStorage() {}
    void UpGrade() {}
    void poptip() {}
};
