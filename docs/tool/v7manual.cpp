// v7manual: writes the operator's manual "V7 Assistant.pdf" from its Markdown chapters and the
// program's screenshots, at build time.
#include <QFile>
#include <QGuiApplication>

#include <cstdio>

#include "manualbook.h"

int main(int argc, char *argv[])
{
    QGuiApplication app(argc, argv);
    QStringList arguments = QCoreApplication::arguments().mid(1);
    QString out;
    QString images;
    QString version;
    QStringList chapters;
    while (!arguments.isEmpty()) {
        const QString a = arguments.takeFirst();
        if (a == QLatin1String("--out") && !arguments.isEmpty())
            out = arguments.takeFirst();
        else if (a == QLatin1String("--images") && !arguments.isEmpty())
            images = arguments.takeFirst();
        else if (a == QLatin1String("--version") && !arguments.isEmpty())
            version = arguments.takeFirst();
        else
            chapters << a;
    }
    if (out.isEmpty() || chapters.isEmpty()) {
        std::fprintf(stderr, "usage: v7manual --out PDF [--images DIR] [--version V] CHAPTER.md...\n");
        return 2;
    }
    ManualBook book(QStringLiteral("V7 Assistant"), version, images);
    for (const QString &path : std::as_const(chapters)) {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly)) {
            std::fprintf(stderr, "v7manual: cannot read %s\n", qPrintable(path));
            return 1;
        }
        if (!book.addChapter(QString::fromUtf8(file.readAll()))) {
            std::fprintf(stderr, "v7manual: %s: %s\n", qPrintable(path), qPrintable(book.error()));
            return 1;
        }
    }
    if (!book.writePdf(out)) {
        QFile::remove(out);
        std::fprintf(stderr, "v7manual: %s\n", qPrintable(book.error()));
        return 1;
    }
    for (const ManualBook::Chapter &chapter : book.chapters())
        std::printf("%3d  %s\n", chapter.page, qPrintable(chapter.title));
    return 0;
}
