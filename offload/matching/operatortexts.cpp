#include "operatortexts.h"

#include <QDateTime>
#include <QFile>

#include <cerrno>

#include "disktask.h"
#include "postablecheck.h"

namespace OperatorTexts {

namespace {

QString arg(const OperatorOutcome &o, int i)
{
    return i < o.args.size() ? o.args.at(i) : QString();
}

// "path：what", or what alone when the outcome names no file.
QString onFile(const QString &path, const QString &what)
{
    return path.isEmpty() ? what : path + QStringLiteral("：") + what;
}

QString sentence(const OperatorOutcome &o)
{
    using C = OperatorOutcome;
    const QString a = arg(o, 0);
    const QString b = arg(o, 1);
    const QString c = arg(o, 2);
    switch (o.code) {
    case C::None:
        return QString();
    case C::Other:
        return QStringLiteral("发生错误，详情已记入日志");

    case C::PosNoFile:
        return QStringLiteral("文件不存在");
    case C::PosUnreadable:
        return QStringLiteral("文件无法读取");
    case C::PosTooLarge:
        return QStringLiteral("文件过大，不是POS文件");
    case C::PosNotText:
        return QStringLiteral("不是文本，不是POS文件");
    case C::PosEmpty:
        return QStringLiteral("文件为空，没有表头也没有POS记录");
    case C::PosHeaderOnly:
        return QStringLiteral("只有表头，没有POS记录");
    case C::PosHeaderTooFew:
        return QStringLiteral("表头列数太少，不是POS表头");
    case C::PosHeaderName:
        return QStringLiteral("表头中的“%1”不是POS列名").arg(a);
    case C::PosHeaderOrder:
        return QStringLiteral("表头第2至4列应依次为经度、纬度、高度");
    case C::PosHeaderInData:
        return QStringLiteral("数据中又出现表头（“%1”）").arg(a);
    case C::PosRowLength:
        return QStringLiteral("有%1个值，表头要求%2个").arg(a, b);
    case C::PosDecimalComma:
        return QStringLiteral("第%1列的“%2”含逗号，小数请用小数点").arg(a, b);
    case C::PosNotNumber:
        return QStringLiteral("第%1列的“%2”不是数字").arg(a, b);
    case C::PosOutOfRange:
        return QStringLiteral("第%1列的%2超出范围").arg(a, b);
    case C::PosBadTime:
        return QStringLiteral("“%1”不是有效的日期和时间").arg(a);

    case C::CardFolderMissing:
        return QStringLiteral("相机卡目录%1不存在").arg(a);
    case C::CardNotOfOffload:
        return QStringLiteral("%1处不是本次传输的相机卡，请插回原来的卡").arg(a);
    case C::CardNotFound:
        return QStringLiteral("找不到本次传输的相机卡（%1），请插入该卡").arg(a);
    case C::CardMoved:
        return QStringLiteral("相机卡现在位于%1，从那里继续").arg(a);
    case C::CardMovedWhilePaused:
        return QStringLiteral("相机卡现在位于%1，请重新进入本页继续上次任务").arg(a);
    case C::StateFolderUncreatable:
        return QStringLiteral("无法创建任务目录%1").arg(a);
    case C::TaskFileUnwritable:
        return QStringLiteral("任务文件%1无法写入").arg(a);
    case C::TaskStateUnsaved:
        return QStringLiteral("任务状态无法保存，传输没有开始");
    case C::TargetUncreatable:
        return QStringLiteral("无法创建目标目录%1").arg(a);
    case C::BackupMissing:
        return QStringLiteral("备份目录%1不存在，本次只传输到目标目录，备份不完整").arg(a);
    case C::BackupUncreatable:
        return QStringLiteral("无法创建备份目录%1").arg(a);
    case C::BackupIncomplete:
        return QStringLiteral("备份不完整：%1").arg(a);
    case C::TargetMissing:
        return QStringLiteral("目标目录%1不存在，请检查磁盘是否已连接").arg(a);
    case C::NoTargetRecorded:
        return QStringLiteral("上次任务没有记录目标目录，无法继续");
    case C::ClockOffsetAmbiguous:
        return QStringLiteral("无法确定相机时钟偏差，请输入时间偏差（秒）后再开始！");
    case C::Locked:
        if (a.isEmpty())
            return QStringLiteral("另一个传输任务正在使用同一任务目录或目标目录");
        // The host is left out: the state folder is this computer's own.
        return QStringLiteral("另一个传输任务（进程%1，开始于%2）正在使用同一任务目录或目标目录")
            .arg(a, QDateTime::fromString(c, Qt::ISODate)
                        .toLocalTime()
                        .toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")));
    case C::LockFailed:
        return QStringLiteral("无法锁定%1").arg(a);
    case C::EngineNotResumed:
        return QStringLiteral("无法继续传输");

    case C::SetFileDamaged:
        if (a.isEmpty())
            return QStringLiteral("任务记录已损坏");
        return QStringLiteral("任务记录已损坏，已另存为%1").arg(a);
    case C::TaskFilesUnbound:
        return QStringLiteral("任务文件不属于本次传输，已传部分按目标目录重新核对");
    case C::TaskFileDamaged:
        return QStringLiteral("任务文件%1已损坏，已另存为%2，按相机卡和目标目录重建").arg(a, b);
    case C::FewerCopiesFound:
        return QStringLiteral("记录已传%1张，目标目录中只有%2张，其余重新传输").arg(a, b);
    case C::CopiesChecked:
        return QStringLiteral("已重新核对目标目录中的副本，不符的部分重新传输");

    case C::ConfigDamaged:
        if (b.isEmpty())
            return QStringLiteral("上次任务的记录%1已损坏，且无法另存").arg(a);
        return QStringLiteral("上次任务的记录%1已损坏，已另存为%2").arg(a, b);
    case C::ConfigRebuildable:
        return QStringLiteral("到%1的传输可以从相机卡和目标目录重建").arg(a);
    case C::ConfigNothingLeft:
        return QStringLiteral("没有其他记录可以重建该任务，请重新开始传输");

    case C::PhotosUntagged:
        return QStringLiteral("%1张照片未能写入位置，已原样拷贝，详见传输报告").arg(a);
    case C::BlocksNotWritten:
        return QStringLiteral("架次文件只写入%1个，应为%2个").arg(a, b);
    case C::ReportNotWritten:
        return QStringLiteral("传输报告未能写入");
    case C::ExportsNotWritten:
        return QStringLiteral("导出文件未能全部写入");
    case C::TargetNotFlushed:
        return QStringLiteral("目标目录%1未能写入磁盘").arg(a);
    case C::OutputsMissing:
        return QStringLiteral("部分结果文件未写入，继续上次任务时重新写入");
    case C::StateNotSaved:
        return QStringLiteral("任务状态保存失败");

    case C::FileUnreadable:
        return onFile(a, b.isEmpty() ? QStringLiteral("读取失败")
                                     : QStringLiteral("读取失败（%1）").arg(b));
    case C::FileChanged:
        return onFile(a, QStringLiteral("读取时文件被改动"));
    case C::FileNameRefused:
        return onFile(a, QStringLiteral("目标盘不能保存这个文件名"));
    case C::FileNotWritten:
        return onFile(a, b.isEmpty() ? QStringLiteral("写入失败")
                                     : QStringLiteral("写入失败（%1）").arg(b));
    case C::FileCopyDiffers:
        return onFile(a, QStringLiteral("校验失败，副本与原文件不同"));
    case C::FilePathTooLong:
        return onFile(a, QStringLiteral("路径过长"));
    case C::FileSkipped:
        return onFile(a, QStringLiteral("不是普通文件"));
    case C::CodeCount:
        break; // not a code; listed so that a new code without its sentence warns here
    }
    return QStringLiteral("发生错误，详情已记入日志");
}

} // namespace

QString cameraName(int camera)
{
    // By engine number: centre, left, right, front, back.
    static const char16_t *const names[] = {u"下视相机", u"左视相机", u"右视相机", u"前视相机",
                                            u"后视相机"};
    return camera >= 0 && camera < 5 ? QString::fromUtf16(names[camera]) : QString();
}

QString text(const OperatorOutcome &outcome)
{
    const QString s = sentence(outcome);
    if (outcome.camera < 0 || s.isEmpty())
        return s;
    return cameraName(outcome.camera) + QStringLiteral("：") + s;
}

QString lines(const OperatorOutcomes &outcomes)
{
    QStringList out;
    for (const OperatorOutcome &o : outcomes) {
        const QString s = text(o);
        if (!s.isEmpty() && !out.contains(s))
            out << s;
    }
    return out.join(QLatin1Char('\n'));
}

QString systemError(int error)
{
    switch (error) {
    case 0:
        return QString();
    case EIO:
        return QStringLiteral("读写错误");
    case ENOSPC:
        return QStringLiteral("磁盘空间不足");
    case EACCES:
    case EPERM:
        return QStringLiteral("没有权限");
    case EROFS:
        return QStringLiteral("磁盘只读");
    case ENOENT:
        return QStringLiteral("文件不存在");
    case ENAMETOOLONG:
        return QStringLiteral("名称过长");
    case EINVAL:
    case EILSEQ:
        return QStringLiteral("名称无效");
    case ENXIO:
    case ENODEV:
        return QStringLiteral("设备已移除");
    case EEXIST:
        return QStringLiteral("文件已存在");
    default:
        return QStringLiteral("系统错误%1").arg(error);
    }
}

QString posTable(const PosTableCheck &check, const QString &path)
{
    if (check.accepted())
        return QString();
    const QString why = text(check.why);
    if (check.badLines.isEmpty())
        return check.firstBadLine > 0
                   ? QStringLiteral("%1：第%2行%3").arg(path).arg(check.firstBadLine).arg(why)
                   : QStringLiteral("%1：%2").arg(path, why);
    QStringList named;
    for (int i = 0; i < check.badLines.size() && i < 10; ++i)
        named << QString::number(check.badLines.at(i));
    if (check.badLines.size() > 10)
        named << QStringLiteral("…");
    return QStringLiteral("%1：共%2行数据，%3行无法读取（第%4行）；第%5行%6")
        .arg(path)
        .arg(check.badLines.size() + check.rows)
        .arg(check.badLines.size())
        .arg(named.join(QStringLiteral("、")))
        .arg(check.firstBadLine)
        .arg(why);
}

QString fileProblem(const FileProblem &problem)
{
    const QString path = QFile::decodeName(problem.relative.c_str());
    OperatorOutcome o(OperatorOutcome::Code(problem.code), {path, systemError(problem.sysError)});
    if (o.code == OperatorOutcome::None)
        o.code =
            problem.index < 0 ? OperatorOutcome::FilePathTooLong : OperatorOutcome::FileUnreadable;
    return text(o);
}

} // namespace OperatorTexts
