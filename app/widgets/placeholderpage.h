#pragma once

#include <QString>

class QWidget;

// The look of a content page whose controls are not there yet: background and its title.
namespace PlaceholderPage {
void decorate(QWidget *page, const QString &title);
}
