#pragma once

#include <QString>
#include <QStringList>

class QTextDocument;

// The operator's manual as a printed book: a cover, a table of contents with page numbers, and
// one chapter per Markdown file, each chapter starting on a new A4 page.
class ManualBook
{
public:
    struct Chapter
    {
        QString title;  // the chapter's first level-1 heading
        int page = 0;   // 1-based page of the printed book
    };

    ManualBook(const QString &title, const QString &version, const QString &imageFolder);
    ~ManualBook();

    // Appends one chapter's Markdown; false unless it opens with its level-1 heading.
    bool addChapter(const QString &markdown);

    // Lays the book out and writes it; the chapters' pages are known afterwards.
    bool writePdf(const QString &path);

    const QList<Chapter> &chapters() const { return m_chapters; }
    QString error() const { return m_error; }

private:
    void fitImages(QTextDocument &document);
    void layOut(QTextDocument &document, double bodyWidth, double bodyHeight);
    static void keepHeadingsWithText(QTextDocument &document, double bodyHeight);

    QString m_title;
    QString m_version;
    QString m_imageFolder;
    QStringList m_markdown;
    QList<Chapter> m_chapters;
    QString m_error;
};
