#include "pagedriver.h"

#include <QApplication>
#include <QFileDialog>
#include <QLineEdit>

ChooserAnswers::ChooserAnswers()
{
    QObject::connect(&m_timer, &QTimer::timeout, [this] {
        auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
        if (!dialog || !dialog->isVisible())
            return;
        ++m_asked;
        m_titles << dialog->windowTitle();
        m_starts << dialog->directory().absolutePath();
        const QString answer = m_answers.isEmpty() ? QString() : m_answers.takeFirst();
        if (answer.isEmpty()) {
            dialog->reject();
            return;
        }
        // A folder is entered and taken as it is; a file's name is typed into the name field.
        const QFileInfo info(answer);
        auto *name = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
        if (!name)
            qFatal("the file dialog has no name field");
        if (info.isDir()) {
            dialog->setDirectory(info.absoluteFilePath());
            name->clear();
        } else {
            dialog->setDirectory(info.absolutePath());
            name->setText(info.fileName());
        }
        QMetaObject::invokeMethod(dialog, "accept");
    });
    m_timer.start(10);
}
