#include "taskconfig.h"

#include <QDir>
#include <QDomDocument>
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

void readPose(const QDomElement &pose, QList<OffloadPosSet> *sets)
{
    for (QDomElement file = pose.firstChildElement(QStringLiteral("file")); !file.isNull();
         file = file.nextSiblingElement(QStringLiteral("file"))) {
        OffloadPosSet set;
        set.filePath = file.attribute(QStringLiteral("path"));
        const QDomElement times = file.firstChildElement(QStringLiteral("timelist"));
        for (QDomElement time = times.firstChildElement(QStringLiteral("time")); !time.isNull();
             time = time.nextSiblingElement(QStringLiteral("time")))
            set.times.append(time.attribute(QStringLiteral("value")).toUInt());
        const QDomElement gps = file.firstChildElement(QStringLiteral("gpslist"));
        for (QDomElement pos = gps.firstChildElement(QStringLiteral("pos")); !pos.isNull();
             pos = pos.nextSiblingElement(QStringLiteral("pos"))) {
            OffloadPosPoint point;
            point.x = pos.attribute(QStringLiteral("x")).toDouble();
            point.y = pos.attribute(QStringLiteral("y")).toDouble();
            point.z = pos.attribute(QStringLiteral("z")).toDouble();
            set.positions.append(point);
        }
        sets->append(set);
    }
}

bool parseText(const QByteArray &text, QDomDocument *document)
{
    if (!document->setContent(text))
        return false;
    return document->documentElement().tagName() == QLatin1String("config");
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
    QDomDocument document;
    if (!parseText(text, &document))
        return false;
    TaskConfig result;
    const QDomElement root = document.documentElement();
    for (QDomElement child = root.firstChildElement(); !child.isNull();
         child = child.nextSiblingElement()) {
        const QString tag = child.tagName();
        const auto isTrue = [&child] {
            return child.attribute(QStringLiteral("flag")) == QLatin1String("true");
        };
        if (tag == QLatin1String("pans")) {
            for (int camera = 0; camera < Cameras::Count; ++camera) {
                const QDomElement e =
                    child.firstChildElement(QString::fromLatin1(Cameras::lowerName(camera)));
                Camera &c = result.cameras[camera];
                c.path = e.attribute(QStringLiteral("path"));
                c.planCount = e.attribute(QStringLiteral("plancount")).toInt();
                c.hasCount = e.attribute(QStringLiteral("hascount")).toInt();
                c.zipPath = e.attribute(QStringLiteral("zippath"));
                c.zipName = e.attribute(QStringLiteral("zipname"));
            }
        } else if (tag == QLatin1String("savapath")) {
            result.savePath = child.attribute(QStringLiteral("path"));
        } else if (tag == QLatin1String("pose")) {
            readPose(child, &result.pos);
        } else if (tag == QLatin1String("qufenjiaci")) {
            result.splitSorties = isTrue();
        } else if (tag == QLatin1String("fenquan")) {
            result.volumes = isTrue();
            result.volumeValue = child.attribute(QStringLiteral("value"));
            if (child.attribute(QStringLiteral("unit")) == QLatin1String("MB"))
                result.volumeUnit = QStringLiteral("MB");
        } else if (tag == QLatin1String("password")) {
            result.password = isTrue();
            result.passwordValue = child.attribute(QStringLiteral("value"));
        } else if (tag == QLatin1String("tasksuccess")) {
            result.success = !(child.attribute(QStringLiteral("flag")) == QLatin1String("false"));
        }
    }
    *config = result;
    return true;
}

QString TaskConfig::problem(const QByteArray &text)
{
    if (text.trimmed().isEmpty())
        return QStringLiteral("the file is empty");
    QDomDocument document;
    QString message;
    int line = 0;
    int column = 0;
    if (!document.setContent(text, &message, &line, &column))
        return QStringLiteral("it is not well-formed XML (%1 at line %2, column %3)")
            .arg(message)
            .arg(line)
            .arg(column);
    const QDomElement root = document.documentElement();
    if (root.tagName() != QLatin1String("config"))
        return QStringLiteral("its root element is <%1>, not <config>").arg(root.tagName());
    const QDomElement pans = root.firstChildElement(QStringLiteral("pans"));
    if (pans.isNull())
        return QStringLiteral("it has no <pans> element (the cameras)");
    for (int camera : XmlOrder) {
        const QString name = QString::fromLatin1(Cameras::lowerName(camera));
        if (pans.firstChildElement(name).isNull())
            return QStringLiteral("<pans> has no <%1> element").arg(name);
    }
    if (root.firstChildElement(QStringLiteral("savapath")).isNull())
        return QStringLiteral("it has no <savapath> element (the target folder)");
    if (root.lastChildElement().tagName() != QLatin1String("tasksuccess"))
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
