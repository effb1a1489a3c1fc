#pragma once

#include <QApplication>
#include <QFileDialog>
#include <QLineEdit>
#include <QTimer>

// Answers the folder and file choosers a page opens, in the order queued, as an operator would:
// the path typed in, then accepted (an empty answer cancels). Keeps what each chooser showed.
struct ChooserAnswers
{
    ChooserAnswers()
    {
        QObject::connect(&timer, &QTimer::timeout, [this] {
            auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
            if (!dialog || !dialog->isVisible())
                return;
            auto *name = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
            asked << QStringList{dialog->windowTitle(), dialog->directory().absolutePath(),
                                 name ? name->text() : QString()} +
                         dialog->nameFilters();
            const QFileInfo answer(answers.isEmpty() ? QString() : answers.takeFirst());
            if (answer.filePath().isEmpty() || !name)
                return dialog->reject();
            dialog->setDirectory(answer.isDir() ? answer.absoluteFilePath()
                                                : answer.absolutePath());
            name->setText(answer.isDir() ? QString() : answer.fileName());
            QMetaObject::invokeMethod(dialog, "accept");
        });
        timer.start(10);
    }
    QTimer timer;
    QStringList answers;
    QList<QStringList> asked; // title, folder, suggested name, then the filters
};
