#pragma once

#include <QStringList>
#include <QWidget>

// Page of the content area; its controls arrive with the feature that fills it.
class DataService : public QWidget
{
    Q_OBJECT
public:
    static DataService *instance();
    explicit DataService(QWidget *parent = nullptr);
    // Offers to resume an unfinished offload when the page is entered.
    void offerResume() {}

public slots:
    void onsignalclose() {}

};
