#pragma once

#include <QWidget>

// Page of the content area; its controls arrive with the feature that fills it.
class CollectAssistant : public QWidget
{
    Q_OBJECT
public:

    explicit CollectAssistant(QWidget *parent = nullptr);

};
