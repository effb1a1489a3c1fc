#include "posspreadsheet.h"

#include "postablecheck.h"
#include "workerthread.h"

namespace PosSpreadsheet {
bool isHeaderField(const QString &field)
{
    static const char *const names[] = {"offset", "ID",   "Lon",     "Lat",  "Alt",  "Heading",
                                        "Pitch",  "Roll", "Psi_GPS", "Time", "Speed"};
    for (const char *name : names) {
        if (field.contains(QLatin1String(name)))
            return true;
    }
    return false;
}
} // namespace PosSpreadsheet

MyReadExcelThread::MyReadExcelThread(const QString &path, QObject *parent)
    : QThread(parent)
    , m_path(path)
{}

MyReadExcelThread::~MyReadExcelThread()
{
    quit();
    wait();
}

void MyReadExcelThread::run()
{
    WorkerThread::prepare("pos table read");
    auto *object = new MyExcelObject;
    const PosTableCheck check = PosSpreadsheet::readChecked(m_path, object);
    if (!check.accepted())
        emit refused(m_path, check.message(m_path), OperatorTexts::posTable(check, m_path));
    emit newObject(object);
    exec();
}
