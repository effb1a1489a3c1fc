#include "manualbook.h"

#include <QAbstractTextDocumentLayout>
#include <QDir>
#include <QImage>
#include <QPainter>
#include <QPdfWriter>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextFrame>
#include <QTextTable>

#include <cmath>

namespace {

const char *const kFont = "WenQuanYi Micro Hei";
const char *const kMonoFont = "WenQuanYi Micro Hei Mono";
constexpr int kDpi = 300;
constexpr double kMarginMm = 20;
// A screenshot of the whole window (760 pixels wide) fills this part of the text width;
// dialogs keep the same scale, so every picture shows the program at one size.
constexpr double kWindowShare = 0.86;
constexpr double kWindowPixels = 760;

double mm(double millimetres)
{
    return millimetres / 25.4 * kDpi;
}

QTextCharFormat textFormat(double points, bool bold = false, QColor colour = Qt::black)
{
    QTextCharFormat format;
    format.setFontFamilies({QString::fromLatin1(kFont)});
    format.setFontPointSize(points);
    format.setFontWeight(bold ? QFont::Bold : QFont::Normal);
    format.setForeground(colour);
    return format;
}

QTextBlockFormat centred(double topMargin)
{
    QTextBlockFormat format;
    format.setAlignment(Qt::AlignHCenter);
    format.setTopMargin(topMargin);
    return format;
}

const QColor kHeadingColour(20, 60, 120);

} // namespace

ManualBook::ManualBook(const QString &title, const QString &version, const QString &imageFolder)
    : m_title(title)
    , m_version(version)
    , m_imageFolder(imageFolder)
{
}

ManualBook::~ManualBook() = default;

bool ManualBook::addChapter(const QString &markdown)
{
    QTextDocument probe;
    probe.setMarkdown(markdown);
    if (probe.begin().blockFormat().headingLevel() != 1) {
        m_error = QStringLiteral("a chapter must open with its level-1 heading");
        return false;
    }
    m_markdown << markdown;
    return true;
}

// Screenshots are looked up by name in the image folder and drawn at the one scale of the book;
// a picture the chapters name but the program no longer renders fails the build.
void ManualBook::fitImages(QTextDocument &document)
{
    // The layout multiplies an image's size by the device's resolution over 96 dpi.
    const double scale = document.pageSize().width() * kWindowShare / kWindowPixels * 96 / kDpi;
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            if (!fragment.charFormat().isImageFormat())
                continue;
            QTextImageFormat image = fragment.charFormat().toImageFormat();
            const QString name = image.name();
            const QImage picture(QDir(m_imageFolder).filePath(name));
            if (picture.isNull()) {
                m_error = QStringLiteral("no picture %1").arg(name);
                continue;
            }
            document.addResource(QTextDocument::ImageResource, QUrl(name), picture);
            image.setWidth(picture.width() * scale);
            image.setHeight(picture.height() * scale);
            QTextCursor cursor(&document);
            cursor.setPosition(fragment.position());
            cursor.setPosition(fragment.position() + fragment.length(), QTextCursor::KeepAnchor);
            cursor.setCharFormat(image);
            QTextBlockFormat centre = block.blockFormat();
            centre.setAlignment(Qt::AlignHCenter);
            centre.setLineHeight(0, QTextBlockFormat::SingleHeight);
            centre.setTopMargin(mm(2));
            centre.setBottomMargin(mm(3));
            cursor.setBlockFormat(centre);
        }
    }
}

// Headings, code and tables of the Markdown get the book's look; chapters start new pages.
void ManualBook::layOut(QTextDocument &document, double bodyWidth, double bodyHeight)
{
    document.setPageSize(QSizeF(bodyWidth, bodyHeight));
    QTextCursor cursor(&document);
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        cursor.setPosition(block.position());
        cursor.setPosition(block.position() + block.length() - 1, QTextCursor::KeepAnchor);
        QTextBlockFormat format = block.blockFormat();
        const int level = format.headingLevel();
        if (level > 0) {
            const double sizes[] = {20, 15, 12.5, 11};
            cursor.mergeCharFormat(textFormat(sizes[qMin(level, 4) - 1], true, kHeadingColour));
            format.setTopMargin(level == 1 ? 0 : mm(level == 2 ? 6 : 4));
            format.setBottomMargin(mm(level == 1 ? 6 : 2));
            if (level == 1)
                format.setPageBreakPolicy(QTextFormat::PageBreak_AlwaysBefore);
        } else if (format.hasProperty(QTextFormat::BlockCodeFence)) {
            format.setBackground(QColor(238, 240, 244));
            format.setLeftMargin(mm(3));
            format.setTopMargin(mm(1.5));
            format.setBottomMargin(mm(3));
            QTextCharFormat mono;
            mono.setFontFamilies({QString::fromLatin1(kMonoFont)});
            mono.setFontPointSize(9);
            cursor.mergeCharFormat(mono);
        } else if (cursor.currentTable()) {
            format.setLineHeight(125, QTextBlockFormat::ProportionalHeight);
        } else {
            format.setLineHeight(145, QTextBlockFormat::ProportionalHeight);
            if (format.bottomMargin() < mm(1.5))
                format.setBottomMargin(mm(1.5));
        }
        cursor.setBlockFormat(format);
    }
    for (QTextFrame *frame : document.rootFrame()->childFrames()) {
        auto *table = qobject_cast<QTextTable *>(frame);
        if (!table || table->property("toc").toBool())
            continue;
        QTextTableFormat format = table->format();
        format.setBorder(1);
        format.setBorderBrush(QColor(150, 160, 175));
        format.setBorderStyle(QTextFrameFormat::BorderStyle_Solid);
        format.setBorderCollapse(true);
        format.setCellPadding(mm(1));
        format.setWidth(QTextLength(QTextLength::PercentageLength, 100));
        format.setTopMargin(mm(2));
        format.setBottomMargin(mm(3));
        table->setFormat(format);
    }
    fitImages(document);
}

// A section heading left at the foot of a page goes to the next one, with its text. One at a
// time from the top, as each move shifts everything after it.
void ManualBook::keepHeadingsWithText(QTextDocument &document, double bodyHeight)
{
    const double foot = mm(32);
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        QTextBlockFormat format = block.blockFormat();
        if (format.headingLevel() < 2 || format.pageBreakPolicy() != QTextFormat::PageBreak_Auto)
            continue;
        const double top = document.documentLayout()->blockBoundingRect(block).top();
        const double left = bodyHeight - std::fmod(top, bodyHeight);
        if (left < foot) {
            format.setPageBreakPolicy(QTextFormat::PageBreak_AlwaysBefore);
            QTextCursor(block).setBlockFormat(format);
        }
    }
}

bool ManualBook::writePdf(const QString &path)
{
    QPdfWriter writer(path);
    writer.setResolution(kDpi);
    writer.setPageSize(QPageSize(QPageSize::A4));
    writer.setPageMargins(QMarginsF(0, 0, 0, 0));
    writer.setTitle(m_title);
    writer.setCreator(QStringLiteral("v7manual"));
    const double pageWidth = writer.width();
    const double pageHeight = writer.height();
    const double margin = mm(kMarginMm);
    const double bodyWidth = pageWidth - 2 * margin;
    const double bodyHeight = pageHeight - 2 * margin - mm(6);

    QTextDocument document;
    document.documentLayout()->setPaintDevice(&writer);
    document.setDocumentMargin(0);
    QFont base(QString::fromLatin1(kFont));
    base.setPointSizeF(10.5);
    document.setDefaultFont(base);

    // Cover, then the contents on a page of their own, then the chapters.
    QTextCursor cursor(&document);
    cursor.setBlockFormat(centred(bodyHeight * 0.3));
    cursor.insertText(m_title, textFormat(28, true, kHeadingColour));
    cursor.insertBlock(centred(mm(8)));
    cursor.insertText(QStringLiteral("操作手册"), textFormat(18, false, kHeadingColour));
    cursor.insertBlock(centred(mm(30)));
    cursor.insertText(QStringLiteral("软件版本 %1").arg(m_version), textFormat(12));

    QTextBlockFormat contentsHeading = centred(0);
    contentsHeading.setPageBreakPolicy(QTextFormat::PageBreak_AlwaysBefore);
    contentsHeading.setBottomMargin(mm(6));
    cursor.insertBlock(contentsHeading);
    cursor.insertText(QStringLiteral("目录"), textFormat(20, true, kHeadingColour));

    // Chapters and their sections, in the order the chapters will be laid out.
    QList<QPair<int, QString>> titles;
    for (const QString &markdown : std::as_const(m_markdown)) {
        QTextDocument part;
        part.setMarkdown(markdown);
        for (QTextBlock block = part.begin(); block.isValid(); block = block.next()) {
            const int level = block.blockFormat().headingLevel();
            if (level == 1 || level == 2)
                titles.append({level, block.text()});
        }
    }
    QTextTableFormat tocFormat;
    tocFormat.setBorder(0);
    tocFormat.setCellPadding(mm(0.6));
    tocFormat.setWidth(QTextLength(QTextLength::PercentageLength, 100));
    tocFormat.setColumnWidthConstraints({QTextLength(QTextLength::PercentageLength, 88),
                                         QTextLength(QTextLength::PercentageLength, 12)});
    QTextTable *toc = cursor.insertTable(titles.size(), 2, tocFormat);
    toc->setProperty("toc", true);
    for (int row = 0; row < titles.size(); ++row) {
        const bool chapter = titles[row].first == 1;
        const QTextCharFormat entry = textFormat(chapter ? 11.5 : 10, chapter);
        QTextCursor title = toc->cellAt(row, 0).firstCursorPosition();
        QTextBlockFormat indent;
        indent.setLeftMargin(chapter ? 0 : mm(6));
        indent.setTopMargin(chapter && row > 0 ? mm(2) : 0);
        title.setBlockFormat(indent);
        title.insertText(titles[row].second, entry);
        QTextCursor number = toc->cellAt(row, 1).firstCursorPosition();
        QTextBlockFormat right;
        right.setAlignment(Qt::AlignRight);
        right.setTopMargin(indent.topMargin());
        number.setBlockFormat(right);
        number.insertText(QStringLiteral("000"), entry);
    }
    cursor.movePosition(QTextCursor::End);
    for (const QString &markdown : std::as_const(m_markdown)) {
        cursor.insertBlock(QTextBlockFormat(), QTextCharFormat());
        const int start = cursor.position();
        cursor.insertMarkdown(markdown);
        // The first block of an inserted fragment takes the format of the block it lands in,
        // so the chapter heading gets its level back here.
        QTextCursor heading(document.findBlock(start));
        QTextBlockFormat level = heading.blockFormat();
        level.setHeadingLevel(1);
        heading.setBlockFormat(level);
        cursor.movePosition(QTextCursor::End);
    }
    layOut(document, bodyWidth, bodyHeight);
    if (!m_error.isEmpty())
        return false;

    keepHeadingsWithText(document, bodyHeight);

    // The pages of the chapters, into the contents (same width, so the pages do not move).
    auto pageOf = [&](const QTextBlock &block) {
        const QRectF box = document.documentLayout()->blockBoundingRect(block);
        return int(box.top() / bodyHeight) + 1;
    };
    m_chapters.clear();
    int row = 0;
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        const int level = block.blockFormat().headingLevel();
        if (level != 1 && level != 2)
            continue;
        const int page = pageOf(block);
        if (level == 1)
            m_chapters << Chapter{block.text(), page};
        if (row < titles.size()) {
            QTextCursor number = toc->cellAt(row++, 1).firstCursorPosition();
            number.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
            number.insertText(QString::number(page), textFormat(level == 1 ? 11.5 : 10, level == 1));
        }
    }

    QPainter painter;
    if (!painter.begin(&writer)) {
        m_error = QStringLiteral("cannot write %1").arg(path);
        return false;
    }
    const int pages = document.pageCount();
    QFont small(QString::fromLatin1(kFont));
    small.setPointSizeF(8.5);
    for (int page = 0; page < pages; ++page) {
        if (page > 0)
            writer.newPage();
        painter.save();
        painter.translate(margin, margin - page * bodyHeight);
        QAbstractTextDocumentLayout::PaintContext context;
        // The first row of the next page's pictures and glyphs reaches a little above its top:
        // the clip stops short of the boundary so that nothing of it shows on this page.
        context.clip = QRectF(-mm(1), page * bodyHeight, bodyWidth + mm(2), bodyHeight - mm(0.4));
        painter.setClipRect(context.clip);
        document.documentLayout()->draw(&painter, context);
        painter.restore();
        if (page == 0)
            continue;
        // Running head: the book and the chapter of the page; the page number below.
        QString chapter;
        for (const Chapter &c : std::as_const(m_chapters)) {
            if (c.page <= page + 1)
                chapter = c.title;
        }
        painter.setFont(small);
        painter.setPen(QColor(110, 110, 110));
        const QRectF head(margin, margin - mm(10), bodyWidth, mm(6));
        painter.drawText(head, Qt::AlignLeft | Qt::AlignVCenter, m_title);
        painter.drawText(head, Qt::AlignRight | Qt::AlignVCenter, chapter);
        painter.drawLine(QPointF(margin, margin - mm(3.5)),
                         QPointF(margin + bodyWidth, margin - mm(3.5)));
        const QRectF foot(margin, pageHeight - margin + mm(2), bodyWidth, mm(6));
        painter.drawText(foot, Qt::AlignHCenter | Qt::AlignVCenter, QString::number(page + 1));
    }
    painter.end();
    return true;
}
