#include "taskconfig.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QBuffer>
#include <QLocale>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>

#include "datafolders.h"
#include "syncio.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <unistd.h>

namespace {

// Document order of the camera elements, by engine camera number.
constexpr int XmlOrder[Cameras::Count] = {0, 3, 2, 1, 4};

QString flagText(bool flag)
{
    return flag ? QStringLiteral("true") : QStringLiteral("false");
}

// The sets of a <pose> element, the reader at its start; read to its end.
void readPose(QXmlStreamReader &xml, QList<OffloadPosSet> *sets)
{
    while (xml.readNextStartElement()) {
        if (xml.name() != QLatin1String("file")) {
            xml.skipCurrentElement();
            continue;
        }
        OffloadPosSet set;
        set.filePath = xml.attributes().value(QLatin1String("path")).toString();
        bool haveTimes = false, haveGps = false;
        while (xml.readNextStartElement()) {
            if (xml.name() == QLatin1String("timelist") && !haveTimes) {
                haveTimes = true;
                while (xml.readNextStartElement()) {
                    if (xml.name() == QLatin1String("time"))
                        set.times.append(xml.attributes().value(QLatin1String("value")).toUInt());
                    xml.skipCurrentElement();
                }
            } else if (xml.name() == QLatin1String("gpslist") && !haveGps) {
                haveGps = true;
                while (xml.readNextStartElement()) {
                    if (xml.name() == QLatin1String("pos")) {
                        const QXmlStreamAttributes a = xml.attributes();
                        set.positions.append(OffloadPosPoint{a.value(QLatin1String("x")).toDouble(),
                                                             a.value(QLatin1String("y")).toDouble(),
                                                             a.value(QLatin1String("z")).toDouble()});
                    }
                    xml.skipCurrentElement();
                }
            } else {
                xml.skipCurrentElement();
            }
        }
        sets->append(set);
    }
}

// One streaming pass over the text: the offload it holds and what problem() asks of its shape.
// Streamed, not built as a document: every record of a long POS table is an element of it.
struct Scan
{
    bool wellFormed = false;
    QString message;
    qint64 line = 0;
    qint64 column = 0;
    QString root;
    bool hasPans = false;
    bool pansHas[Cameras::Count] = {}; // the first <pans> holds the camera's element
    bool hasSavePath = false;
    QString lastChild;
    TaskConfig config;
};

Scan scan(const QByteArray &text)
{
    Scan s;
    QXmlStreamReader xml(text);
    xml.setNamespaceProcessing(false);
    if (xml.readNextStartElement()) {
        s.root = xml.name().toString();
        while (s.root == QLatin1String("config") && xml.readNextStartElement()) {
            const QString tag = xml.name().toString();
            const QXmlStreamAttributes a = xml.attributes();
            const bool isTrue = a.value(QLatin1String("flag")) == QLatin1String("true");
            s.lastChild = tag;
            if (tag == QLatin1String("pans")) {
                bool seen[Cameras::Count] = {};
                TaskConfig::Camera cameras[Cameras::Count];
                while (xml.readNextStartElement()) {
                    for (int camera = 0; camera < Cameras::Count; ++camera) {
                        if (seen[camera] || xml.name() != QLatin1String(Cameras::lowerName(camera)))
                            continue;
                        seen[camera] = true;
                        const QXmlStreamAttributes e = xml.attributes();
                        TaskConfig::Camera &c = cameras[camera];
                        c.path = e.value(QLatin1String("path")).toString();
                        c.planCount = e.value(QLatin1String("plancount")).toInt();
                        c.hasCount = e.value(QLatin1String("hascount")).toInt();
                        c.zipPath = e.value(QLatin1String("zippath")).toString();
                        c.zipName = e.value(QLatin1String("zipname")).toString();
                    }
                    xml.skipCurrentElement();
                }
                for (int camera = 0; camera < Cameras::Count; ++camera) {
                    s.config.cameras[camera] = cameras[camera];
                    if (!s.hasPans)
                        s.pansHas[camera] = seen[camera];
                }
                s.hasPans = true;
                continue;
            }
            if (tag == QLatin1String("pose")) {
                readPose(xml, &s.config.pos);
                continue;
            }
            if (tag == QLatin1String("savapath")) {
                s.hasSavePath = true;
                s.config.savePath = a.value(QLatin1String("path")).toString();
            } else if (tag == QLatin1String("qufenjiaci")) {
                s.config.splitSorties = isTrue;
            } else if (tag == QLatin1String("fenquan")) {
                s.config.volumes = isTrue;
                s.config.volumeValue = a.value(QLatin1String("value")).toString();
                if (a.value(QLatin1String("unit")) == QLatin1String("MB"))
                    s.config.volumeUnit = QStringLiteral("MB");
            } else if (tag == QLatin1String("password")) {
                s.config.password = isTrue;
                s.config.passwordValue = a.value(QLatin1String("value")).toString();
            } else if (tag == QLatin1String("tasksuccess")) {
                s.config.success = a.value(QLatin1String("flag")) != QLatin1String("false");
            }
            xml.skipCurrentElement();
        }
    }
    while (!xml.atEnd())
        xml.readNext();
    s.wellFormed = !xml.hasError();
    s.message = xml.errorString();
    s.line = xml.lineNumber();
    s.column = xml.columnNumber();
    return s;
}

} // namespace

QString TaskConfig::defaultPath()
{
    return QDir(DataFolders::perUserDataFolder()).filePath(QStringLiteral("Taskconfig.xml"));
}

bool TaskConfig::write(const QString &path, const TaskConfig &config, QString *error)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    // Streamed into the temporary sibling, synced and renamed over the file: every record of a
    // long POS table is in it, and the text is never held whole.
    const QString temp = path + QStringLiteral(".new");
    QFile file(temp);
    bool ok = file.open(QIODevice::WriteOnly | QIODevice::Truncate);
    if (ok) {
        writeXml(&file, config);
        ok = file.flush() && file.error() == QFileDevice::NoError && ::fdatasync(file.handle()) == 0;
    }
    const int failure = errno;
    file.close();
    errno = failure;
    if (ok && ::rename(QFile::encodeName(temp).constData(), QFile::encodeName(path).constData()) == 0) {
        SyncIo::syncFolder(SyncIo::parentOf(QFile::encodeName(path).toStdString()));
        return true;
    }
    const int renameFailure = errno;
    QFile::remove(temp);
    errno = renameFailure;
    if (error)
        *error = QStringLiteral("cannot write %1: %2")
                     .arg(path, QString::fromLocal8Bit(std::strerror(errno)));
    return false;
}

QByteArray TaskConfig::toXml(const TaskConfig &config)
{
    QByteArray text;
    QBuffer file(&text);
    file.open(QIODevice::WriteOnly);
    writeXml(&file, config);
    return text;
}

void TaskConfig::writeXml(QIODevice *file, const TaskConfig &config)
{
    QXmlStreamWriter xml(file);
    xml.setAutoFormatting(true);
    xml.writeStartDocument();
    xml.writeStartElement(QStringLiteral("config"));
    xml.writeStartElement(QStringLiteral("pans"));
    for (int camera : XmlOrder) {
        const Camera &c = config.cameras[camera];
        xml.writeStartElement(QString::fromLatin1(Cameras::lowerName(camera)));
        xml.writeAttribute(QStringLiteral("path"), c.path);
        xml.writeAttribute(QStringLiteral("plancount"), QString::number(c.planCount));
        xml.writeAttribute(QStringLiteral("hascount"), QString::number(c.hasCount));
        xml.writeAttribute(QStringLiteral("zippath"), c.zipPath);
        xml.writeAttribute(QStringLiteral("zipname"), c.zipName);
        xml.writeEndElement();
    }
    xml.writeEndElement();
    xml.writeStartElement(QStringLiteral("savapath"));
    xml.writeAttribute(QStringLiteral("path"), config.savePath);
    xml.writeEndElement();
    xml.writeStartElement(QStringLiteral("pose"));
    for (const OffloadPosSet &set : config.pos) {
        xml.writeStartElement(QStringLiteral("file"));
        xml.writeAttribute(QStringLiteral("path"), set.filePath);
        xml.writeStartElement(QStringLiteral("timelist"));
        for (uint time : set.times) {
            xml.writeStartElement(QStringLiteral("time"));
            xml.writeAttribute(QStringLiteral("value"), QString::number(time));
            xml.writeEndElement();
        }
        xml.writeEndElement();
        xml.writeStartElement(QStringLiteral("gpslist"));
        for (const OffloadPosPoint &point : set.positions) {
            xml.writeStartElement(QStringLiteral("pos"));
            xml.writeAttribute(QStringLiteral("x"), numberText(point.x));
            xml.writeAttribute(QStringLiteral("y"), numberText(point.y));
            xml.writeAttribute(QStringLiteral("z"), numberText(point.z));
            xml.writeEndElement();
        }
        xml.writeEndElement();
        xml.writeEndElement();
    }
    xml.writeEndElement();
    xml.writeStartElement(QStringLiteral("qufenjiaci"));
    xml.writeAttribute(QStringLiteral("flag"), flagText(config.splitSorties));
    xml.writeEndElement();
    // With an option off its value is written empty.
    xml.writeStartElement(QStringLiteral("fenquan"));
    xml.writeAttribute(QStringLiteral("flag"), flagText(config.volumes));
    xml.writeAttribute(QStringLiteral("value"), config.volumes ? config.volumeValue : QString());
    // The page's unit box beside the size: without it "500" MB would come back as 500 GB.
    if (config.volumes)
        xml.writeAttribute(QStringLiteral("unit"), config.volumeUnit);
    xml.writeEndElement();
    xml.writeStartElement(QStringLiteral("password"));
    xml.writeAttribute(QStringLiteral("flag"), flagText(config.password));
    xml.writeAttribute(QStringLiteral("value"), config.password ? config.passwordValue : QString());
    xml.writeEndElement();
    xml.writeStartElement(QStringLiteral("tasksuccess"));
    xml.writeAttribute(QStringLiteral("flag"), flagText(config.success));
    xml.writeEndElement();
    xml.writeEndElement();
    xml.writeEndDocument();
}

QString TaskConfig::numberText(double value)
{
    return QString::number(value, 'g', QLocale::FloatingPointShortest);
}

double TaskConfig::volumeGb() const
{
    const double size = volumeValue.toDouble();
    return volumeUnit == QLatin1String("MB") ? size / 1024.0 : size;
}

bool TaskConfig::read(const QString &path, TaskConfig *config)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) && fromXml(file.readAll(), config);
}

bool TaskConfig::fromXml(const QByteArray &text, TaskConfig *config)
{
    const Scan s = scan(text);
    if (!s.wellFormed || s.root != QLatin1String("config"))
        return false;
    *config = s.config;
    return true;
}

QString TaskConfig::problem(const QByteArray &text)
{
    if (text.trimmed().isEmpty())
        return QStringLiteral("the file is empty");
    const Scan s = scan(text);
    if (!s.wellFormed)
        return QStringLiteral("it is not well-formed XML (%1 at line %2, column %3)")
            .arg(s.message)
            .arg(s.line)
            .arg(s.column);
    if (s.root != QLatin1String("config"))
        return QStringLiteral("its root element is <%1>, not <config>").arg(s.root);
    if (!s.hasPans)
        return QStringLiteral("it has no <pans> element (the cameras)");
    for (int camera : XmlOrder) {
        if (!s.pansHas[camera])
            return QStringLiteral("<pans> has no <%1> element")
                .arg(QLatin1String(Cameras::lowerName(camera)));
    }
    if (!s.hasSavePath)
        return QStringLiteral("it has no <savapath> element (the target folder)");
    if (s.lastChild != QLatin1String("tasksuccess"))
        return QStringLiteral("it does not end with <tasksuccess>");
    return QString();
}

bool TaskConfig::resumePending(const QString &path)
{
    // Streamed from the file: a long POS table makes the document large, and only the flag of
    // its last element is asked for.
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    QXmlStreamReader xml(&file);
    if (!xml.readNextStartElement() || xml.name() != QLatin1String("config"))
        return false;
    QString lastFlag;
    while (xml.readNextStartElement()) {
        lastFlag = xml.attributes().value(QLatin1String("flag")).toString();
        xml.skipCurrentElement();
    }
    xml.readNext(); // to the end of the document, so that text after the root counts as an error
    while (!xml.atEnd() && !xml.hasError())
        xml.readNext();
    return !xml.hasError() && lastFlag == QLatin1String("false");
}
