#include "dataservice.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDesktopServices>
#include <QDirIterator>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QRegularExpressionValidator>
#include <QTextEdit>
#include <QTimer>
#include <QUrl>

#include "cameracards.h"
#include "drivewatcher.h"
#include "framestyle.h"
#include "mylabel.h"
#include "offloadrun.h"
#include "prompt.h"

namespace {

const char *const kIconNames[Cameras::Count] = {"center", "left", "right", "front", "back"};
const QString kFont = QStringLiteral("Microsoft YaHei");
const QString kTextStyle = QStringLiteral("color: rgb(70, 70, 70);");
const QString kLinkStyle = QStringLiteral("color: rgb(22, 155,213);");

QPixmap resource(const QString &name)
{
    return QPixmap(QStringLiteral(":/V7KAPP/res/") + name);
}

QLabel *textLabel(const QString &text, QWidget *parent, const QRect &geometry)
{
    auto *label = new QLabel(text, parent);
    label->setGeometry(geometry);
    label->setFont(QFont(kFont, 10));
    label->setStyleSheet(kTextStyle);
    return label;
}

Mylabel *linkLabel(const QString &text, QWidget *parent, const QRect &geometry)
{
    auto *link = new Mylabel(parent);
    link->setText(text);
    link->setGeometry(geometry);
    link->setFont(QFont(kFont, 10));
    link->setStyleSheet(kLinkStyle);
    return link;
}

} // namespace

DataService *DataService::instance()
{
    static DataService *page = new DataService();
    return page;
}

DataService::DataService(QWidget *parent)
    : QWidget(parent)
    , m_run(new OffloadRun(this))
{
    resize(606, 508);
    FrameStyle::setScaledBackground(this, QStringLiteral(":/V7KAPP/res/configtest_bk.png"));
    buildControls();
    buildOptions();

    m_timer = new QTimer(this);
    m_timer->setInterval(1000);
    connect(m_timer, &QTimer::timeout, this, &DataService::onTimeout);
    connect(m_run, &OffloadRun::started, this, &DataService::runStarted);
    connect(m_run, &OffloadRun::finished, this, &DataService::runFinished);

    // The cards as the program starts; later only an arrival with nothing set up reassigns.
    CameraCards::instance()->reassign();
    DriveWatcher *watcher = DriveWatcher::instance();
    connect(watcher, &DriveWatcher::deviceAdded, this, &DataService::slotDeviceAdded);
    connect(watcher, &DriveWatcher::deviceChanged, this, &DataService::slotDeviceChanged);
    connect(watcher, &DriveWatcher::deviceRemoved, this, &DataService::slotDeviceRemoved);
}

DataService::~DataService()
{
    m_timer->stop();
    delete m_run; // pauses the engines before the page's state goes
    m_run = nullptr;
}

void DataService::buildControls()
{
    // Camera icons, in the order centre, front, right, left, back.
    for (int slot = 0; slot < Cameras::Count; ++slot) {
        const int camera = OffloadPlan::IconOrder[slot];
        auto *icon = new Mylabel(this);
        icon->setGeometry(53 + 110 * slot, 22, 60, 60);
        icon->setObjectName(QStringLiteral("camera_") + QLatin1String(kIconNames[camera]));
        connect(icon, &Mylabel::clicked, this, &DataService::onClicked);
        m_icons[camera] = icon;
        showIcon(camera, false);
    }

    m_text = new QTextEdit(this);
    m_text->setGeometry(30, 100, 546, 170);
    m_text->setReadOnly(true);
    m_text->setFont(QFont(kFont, 9));
    m_text->setStyleSheet(QStringLiteral("QTextEdit { background: white; color: rgb(60, 60, 60);"
                                         " border: 1px solid rgb(207, 214, 221); }"));

    textLabel(QStringLiteral("POS文件"), this, QRect(30, 276, 60, 24));
    m_posAdd = linkLabel(QStringLiteral("添加"), this, QRect(100, 276, 36, 24));
    m_posCancel = linkLabel(QStringLiteral("取消选择"), this, QRect(144, 276, 70, 24));
    m_posBrowse = new Mylabel(this);
    m_posBrowse->setGeometry(222, 276, 24, 24);
    m_posBrowse->setPixmap(resource(QStringLiteral("liulan.png")));
    m_posBrowse->setToolTip(QStringLiteral("添加POS文件"));

    textLabel(QStringLiteral("保存到："), this, QRect(30, 302, 60, 24));
    m_targetText = textLabel(QString(), this, QRect(100, 302, 440, 24));
    m_targetText->setObjectName(QStringLiteral("targetText"));
    m_targetBrowse = new Mylabel(this);
    m_targetBrowse->setGeometry(552, 302, 24, 24);
    m_targetBrowse->setPixmap(resource(QStringLiteral("liulan.png")));
    m_targetBrowse->setToolTip(QStringLiteral("选择保存目录"));

    // A second copy on another disk, so that a card is never erased with one copy only.
    textLabel(QStringLiteral("备份目录"), this, QRect(30, 328, 66, 24));
    m_backupText = textLabel(QString(), this, QRect(100, 328, 290, 24));
    m_backupText->setObjectName(QStringLiteral("backupText"));
    m_backupFree = textLabel(QString(), this, QRect(394, 328, 110, 24));
    m_backupFree->setObjectName(QStringLiteral("backupFree"));
    m_backupClear = linkLabel(QStringLiteral("不备份"), this, QRect(506, 328, 44, 24));
    m_backupClear->hide();
    m_backupBrowse = new Mylabel(this);
    m_backupBrowse->setGeometry(552, 328, 24, 24);
    m_backupBrowse->setPixmap(resource(QStringLiteral("liulan.png")));
    m_backupBrowse->setToolTip(QStringLiteral("选择备份目录（另一磁盘）"));
    for (Mylabel *button :
         {m_posAdd, m_posCancel, m_posBrowse, m_targetBrowse, m_backupBrowse, m_backupClear})
        connect(button, &Mylabel::clicked, this, &DataService::onClicked);

    m_startPause = new Mylabel(this);
    m_startPause->setGeometry(528, 360, 48, 48);
    m_startPause->setPixmap(resource(QStringLiteral("begin.png")));
    connect(m_startPause, &Mylabel::clicked, this, &DataService::onClicked);

    m_progress = new QProgressBar(this);
    m_progress->setGeometry(30, 424, 546, 20);
    m_progress->setRange(0, 0);
    m_progress->setValue(0);
    m_progress->setRange(0, 1);
    m_progress->setAlignment(Qt::AlignCenter);
    m_progress->setFont(QFont(kFont, 9));
    m_progress->setStyleSheet(QStringLiteral(
        "QProgressBar { border: none; text-align: center; background: rgb(210, 225, 240); }"
        "QProgressBar::chunk { background: rgb(0, 160, 230); }"));

    m_speed = textLabel(QString(), this, QRect(30, 452, 120, 22));
    m_speed->setObjectName(QStringLiteral("speed"));
    m_timeLeft = textLabel(QString(), this, QRect(30, 474, 300, 22));
    m_timeLeft->setObjectName(QStringLiteral("timeLeft"));

    // The flight report of the last completed offload, opened in the system's browser.
    m_reportLink = textLabel(QString(), this, QRect(356, 452, 220, 22));
    m_reportLink->setObjectName(QStringLiteral("reportLink"));
    m_reportLink->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    m_reportLink->setTextFormat(Qt::RichText);
    m_reportLink->setTextInteractionFlags(Qt::LinksAccessibleByMouse);
    m_reportLink->hide();
    connect(m_reportLink, &QLabel::linkActivated, this, [this](const QString &link) {
        if (!QDesktopServices::openUrl(QUrl(link)))
            Prompt::inform(this, QStringLiteral("未找到能打开传输报告的程序！"),
                           QUrl(link).toLocalFile());
    });
}

void DataService::buildOptions()
{
    m_sortieBox = new QCheckBox(QStringLiteral("自动区分架次"), this);
    m_sortieBox->setGeometry(30, 360, 140, 24);
    m_sortieBox->setFont(QFont(kFont, 10));
    m_sortieBox->setStyleSheet(kTextStyle);
    connect(m_sortieBox, &QCheckBox::stateChanged, this, &DataService::onStateChanged);
    connect(m_sortieBox, &QCheckBox::clicked, this, &DataService::leaveCompleted);
    // Photogrammetry programs know a photo by its file name, and the five cards name theirs
    // alike: the copies can carry their camera's name in front.
    m_prefixBox = new QCheckBox(QStringLiteral("照片名加相机名"), this);
    m_prefixBox->setObjectName(QStringLiteral("prefixBox"));
    m_prefixBox->setGeometry(180, 360, 150, 24);
    m_prefixBox->setFont(QFont(kFont, 10));
    m_prefixBox->setStyleSheet(kTextStyle);
    m_prefixBox->setToolTip(QStringLiteral("如 Center_DSC00001.JPG，五个相机的照片不重名"));
    connect(m_prefixBox, &QCheckBox::clicked, this, &DataService::leaveCompleted);
    // Evenly spaced photos of a part of a flight fit the POS records at many clock offsets;
    // then the operator says which, as a time shift in seconds.
    textLabel(QStringLiteral("时间偏差(秒)"), this, QRect(30, 390, 90, 24));
    m_offsetEdit = new QLineEdit(this);
    m_offsetEdit->setObjectName(QStringLiteral("offsetEdit"));
    m_offsetEdit->setGeometry(120, 390, 80, 24);
    m_offsetEdit->setPlaceholderText(QStringLiteral("自动"));
    m_offsetEdit->setValidator(new QRegularExpressionValidator(
        QRegularExpression(QStringLiteral("^-?[0-9]{0,6}(\\.[0-9]{0,3})?$")), m_offsetEdit));
    connect(m_offsetEdit, &QLineEdit::textEdited, this, &DataService::leaveCompleted);

    // Volumes and password: hidden; only a resumed task file sets them.
    m_volumeBox = new QCheckBox(QStringLiteral("添加分卷"), this);
    m_volumeBox->setGeometry(180, 360, 90, 24);
    m_volumeEdit = new QLineEdit(this);
    m_volumeEdit->setGeometry(272, 360, 60, 24);
    m_volumeEdit->setValidator(new QRegularExpressionValidator(
        QRegularExpression(QStringLiteral("^(([0-9]+.[0-9]*[1-9][0-9]*)|([0-9]*[1-9][0-9]*.[0-9]+)|"
                                          "([0-9]*[1-9][0-9]*))$")),
        m_volumeEdit));
    m_unitBox = new QComboBox(this);
    m_unitBox->setGeometry(336, 360, 56, 24);
    m_unitBox->addItems({QStringLiteral("GB"), QStringLiteral("MB")});
    m_passwordBox = new QCheckBox(QStringLiteral("添加密码"), this);
    m_passwordBox->setGeometry(180, 390, 90, 24);
    m_passwordEdit = new QLineEdit(this);
    m_passwordEdit->setGeometry(272, 390, 120, 24);
    for (QWidget *w : std::initializer_list<QWidget *>{m_volumeBox, m_volumeEdit, m_unitBox,
                                                       m_passwordBox, m_passwordEdit})
        w->hide();
    connect(m_volumeBox, &QCheckBox::stateChanged, this, &DataService::onStateChanged1);
    connect(m_passwordBox, &QCheckBox::stateChanged, this, &DataService::onStateChanged2);
    connect(m_unitBox, &QComboBox::currentIndexChanged, this,
            &DataService::slotcurrentIndexChanged);
    connect(m_volumeEdit, &QLineEdit::textChanged, this,
            [this](const QString &text) { m_plan.volumeText = text; });
    connect(m_passwordEdit, &QLineEdit::textChanged, this,
            [this](const QString &text) { m_plan.passwordText = text; });
}

Mylabel *DataService::cameraIcon(int camera) const
{
    return camera >= 0 && camera < Cameras::Count ? m_icons[camera] : nullptr;
}

void DataService::showIcon(int camera, bool selected)
{
    const QString name = QLatin1String(kIconNames[camera]) +
                         (selected ? QStringLiteral("-hor.png") : QStringLiteral("-nor.png"));
    m_icons[camera]->setPixmap(resource(name));
}

void DataService::showText(const QString &text)
{
    m_text->setPlainText(text);
}

void DataService::setRunning(bool running)
{
    m_running = running;
    m_startPause->setPixmap(
        resource(running ? QStringLiteral("zanting.png") : QStringLiteral("begin.png")));
}

void DataService::onClicked()
{
    QObject *from = sender();
    for (int camera = 0; camera < Cameras::Count; ++camera) {
        if (from == m_icons[camera])
            return cameraClicked(camera);
    }
    if (from == m_targetBrowse)
        targetClicked();
    if (from == m_backupBrowse)
        backupClicked();
    if (from == m_backupClear)
        setBackupFolder(QString());
    else if (from == m_posAdd || from == m_posBrowse)
        posAddClicked();
    else if (from == m_posCancel)
        posCancelClicked();
    else if (from == m_startPause)
        startClicked();
}

void DataService::onStateChanged(int state)
{
    m_plan.splitSorties = state != Qt::Unchecked;
}

void DataService::onStateChanged1(int state)
{
    m_plan.volumes = state != Qt::Unchecked;
}

void DataService::onStateChanged2(int state)
{
    if (state == Qt::Checked)
        m_plan.password = true;
    else if (state == Qt::Unchecked)
        m_plan.password = false;
}

void DataService::slotcurrentIndexChanged(int index)
{
    m_plan.unit = index == 0 ? QStringLiteral("GB") : QStringLiteral("MB");
}

void DataService::slotCenterOtherCount(int count)
{
    m_extraPlanned += count;
    m_progress->setRange(0, m_plan.plannedTotal() + m_extraPlanned);
}

quint64 DataService::dirFileSize(const QString &folder)
{
    quint64 bytes = 0;
    QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        bytes += quint64(it.fileInfo().size());
    }
    return bytes;
}
