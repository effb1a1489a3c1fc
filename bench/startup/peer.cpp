// The peer of the start-up benchmark: an empty Qt window of the program's size.
#include <QApplication>
#include <QWidget>

#include "startupprobe.h"

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QWidget window;
    window.setFixedSize(760, 540);
    StartupProbe::watch(&window);
    window.show();
    return app.exec();
}
