#include "downloaddata.h"

#include <QCheckBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QProgressBar>
#include <QScrollBar>
#include <QTableWidget>
#include <QThread>
#include <QTimer>

#include "appsettings.h"
#include "cameralink.h"
#include "drivewatcher.h"
#include "framestyle.h"
#include "mylabel.h"
#include "poslinkport.h"
#include "posnames.h"
#include "poswifitransfer.h"
#include "prompt.h"
#include "look.h"

namespace {
constexpr int kTickMs = 500;
constexpr int kFiveLensTableHeight = 431;


// The camera link as the WiFi transfer sees it.
class CameraLinkPort : public PosLinkPort
{
public:
    explicit CameraLinkPort(CameraLink *link)
        : m_link(link)
    {}
    bool connected() const override { return m_link->isConnected(); }
    PosFileManager *manager() const override { return m_link->posManager(); }
    int newPosData() const override { return m_link->newPosData(); }
    int clearNewPosData() override { return m_link->clearNewPosData(); }
    QString firmwareVersionText() const override { return m_link->firmwareVersionText(); }
    int posRecordSize() const override { return m_link->posRecordSize(); }
    void transferStarted() override { m_link->heartbeatTimer()->start(5000); }

private:
    CameraLink *m_link;
};
} // namespace

DownloadData *DownloadData::instance()
{
    static DownloadData *page = new DownloadData();
    return page;
}

DownloadData::DownloadData(QWidget *parent)
    : QWidget(parent)
    , m_link(CameraLink::instance())
    , m_port(std::make_unique<CameraLinkPort>(m_link))
{
    buildForm();
    m_transfer = new PosWifiTransfer(m_port.get(), this);

    for (Mylabel *button : {m_wifiButton, m_usbButton, m_downloadButton, m_deleteButton}) {
        connect(button, &Mylabel::clicked, this, &DownloadData::onClicked);
        connect(button, &Mylabel::clickleave, this, &DownloadData::onClickleave);
    }
    m_timer = new QTimer(this);
    connect(m_timer, &QTimer::timeout, this, &DownloadData::onTimeout);
    m_timer->start(kTickMs);
    connect(m_independent, &QCheckBox::stateChanged, this, &DownloadData::onStateChanged);

    connect(m_transfer, &PosWifiTransfer::listingCleared, this, [this] {
        if (m_source == Wifi)
            m_table->setRowCount(0);
    });
    connect(m_transfer, &PosWifiTransfer::slotListed, this, &DownloadData::slotListed);
    connect(m_transfer, &PosWifiTransfer::progressChanged, this,
            [this](int percent, const QString &text) {
                m_progress->setValue(percent);
                m_text->setText(text);
            });
    connect(m_transfer, &PosWifiTransfer::downloadSucceeded, this,
            [this] { showLook(Look::Success); });
    connect(m_transfer, &PosWifiTransfer::fileFinished, this, [this] { ++m_wifiDone; });
    // Queued: the prompt runs its own event loop, which must not run inside a transfer step.
    connect(m_transfer, &PosWifiTransfer::downloadFailed, this, &DownloadData::downloadFailed,
            Qt::QueuedConnection);

    DriveWatcher *watcher = DriveWatcher::instance();
    connect(watcher, &DriveWatcher::deviceAdded, this, &DownloadData::slotDeviceAdded);
    connect(watcher, &DriveWatcher::deviceRemoved, this, &DownloadData::slotDeviceRemoved);

    connect(m_link, &CameraLink::connected, this, &DownloadData::applyAvailability);
    connect(m_link, &CameraLink::disconnected, this, &DownloadData::clearRecords);
}

DownloadData::~DownloadData()
{
    if (m_usbWorker)
        m_usbWorker->wait();
}

void DownloadData::buildForm()
{
    resize(606, 508);
    FrameStyle::setScaledBackground(this, ::Look::resource("configtest_bk.png"));
    const QFont font = ::Look::font(9);

    m_table = new QTableWidget(this);
    m_table->setGeometry(10, 10, 586, 455);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setSelectionMode(QAbstractItemView::SingleSelection);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setShowGrid(false);
    m_table->verticalHeader()->setVisible(false);
    m_table->horizontalHeader()->setStretchLastSection(true);
    // The check box column takes what the fixed columns leave of the page's width.
    m_table->horizontalHeader()->setMinimumSectionSize(36);
    m_table->setFont(font);
    m_table->setFocusPolicy(Qt::NoFocus);
    m_table->setStyleSheet(QStringLiteral(
        "QTableWidget { background: white; border: 1px solid rgb(223, 227, 232);"
        " color: rgb(50, 50, 50); selection-background-color: rgb(214, 236, 250);"
        " selection-color: rgb(50, 50, 50); }"
        "QHeaderView::section { background: rgb(236, 240, 244); color: rgb(102, 102, 102);"
        " border: none; border-bottom: 1px solid rgb(223, 227, 232); height: 26px; }"));
    m_table->verticalScrollBar()->setStyleSheet(QStringLiteral(
        "QScrollBar:vertical { width: 8px; background: transparent; margin: 0; }"
        "QScrollBar::handle:vertical { background: rgb(200, 205, 212); border-radius: 4px;"
        " min-height: 30px; }"
        "QScrollBar::add-line:vertical, QScrollBar::sub-line:vertical { height: 0; }"
        "QScrollBar::add-page:vertical, QScrollBar::sub-page:vertical { background: none; }"));
    setColumns(Wifi);

    m_independent = new QCheckBox(QStringLiteral("下载同时生成独立的POS"), this);
    m_independent->setGeometry(12, 444, 180, 20);
    m_independent->setFont(font);
    m_independent->setStyleSheet(QStringLiteral("color: rgb(50, 50, 50);"));
    m_note = new QLabel(QStringLiteral("*独立POS即为五个相机各自的POS数据"), this);
    m_note->setGeometry(196, 444, 400, 20);
    m_note->setFont(font);
    m_note->setStyleSheet(QStringLiteral("color: rgb(153, 153, 153);"));
    m_independent->hide();
    m_note->hide();

    auto imageButton = [this](int x, const char *image) {
        auto *button = new Mylabel(this);
        button->setGeometry(x, 470, 100, 32);
        button->setPixmap(::Look::picture(image));
        return button;
    };
    m_wifiButton = imageButton(10, "btn_WIFI_pre.png");
    m_usbButton = imageButton(116, "btn_USB_pre.png");
    m_downloadButton = imageButton(390, "btn_download_nor.png");
    m_deleteButton = imageButton(496, "btn_delete_nor.png");

    m_progress = new QProgressBar(this);
    m_progress->setGeometry(224, 472, 160, 10);
    m_progress->setRange(0, 100);
    m_progress->setValue(0);
    m_progress->setTextVisible(false);
    m_progress->setStyleSheet(QStringLiteral(
        "QProgressBar { background: rgb(223, 227, 232); border: none; border-radius: 5px; }"
        "QProgressBar::chunk { background: rgb(0, 160, 230); border-radius: 5px; }"));
    m_text = new QLabel(this);
    m_text->setGeometry(218, 484, 172, 18);
    m_text->setAlignment(Qt::AlignCenter);
    m_text->setFont(::Look::font(8));
    m_text->setStyleSheet(QStringLiteral("color: rgb(80, 80, 80);"));
}

void DownloadData::setColumns(Source source)
{
    m_table->setRowCount(0);
    if (source == Wifi) {
        m_table->setColumnCount(5);
        m_table->setHorizontalHeaderLabels({QStringLiteral("ID"), QStringLiteral("时间"),
                                            QStringLiteral("数量"), QStringLiteral("下载次数"),
                                            QStringLiteral("选择")});
    } else {
        m_table->setColumnCount(4);
        m_table->setHorizontalHeaderLabels({QStringLiteral("ID"), QStringLiteral("时间"),
                                            QStringLiteral("数量"), QStringLiteral("选择")});
    }
    m_table->horizontalHeader()->setDefaultSectionSize(125);
    for (int column = 0; column < m_table->columnCount(); ++column)
        m_table->setColumnWidth(column, 125);
    m_table->setColumnWidth(1, 157);
    // The stretched check box column never grows back past what the others leave.
    m_table->setColumnWidth(m_table->columnCount() - 1, 36);
}

void DownloadData::appendRow(const QStringList &cells)
{
    const int row = m_table->rowCount();
    m_table->insertRow(row);
    for (int column = 0; column < cells.size(); ++column) {
        auto *item = new QTableWidgetItem(cells[column]);
        item->setTextAlignment(Qt::AlignHCenter | Qt::AlignVCenter);
        m_table->setItem(row, column, item);
    }
    auto *cell = new QWidget(m_table);
    auto *layout = new QHBoxLayout(cell);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setAlignment(Qt::AlignCenter);
    layout->addWidget(new QCheckBox(cell));
    m_table->setCellWidget(row, int(cells.size()), cell);
}

QCheckBox *DownloadData::rowCheckBox(int row) const
{
    QWidget *cell = m_table->cellWidget(row, m_table->columnCount() - 1);
    return cell ? cell->findChild<QCheckBox *>() : nullptr;
}

QList<int> DownloadData::checkedRows() const
{
    QList<int> rows;
    for (int row = 0; row < m_table->rowCount(); ++row) {
        if (QCheckBox *box = rowCheckBox(row); box && box->isChecked())
            rows.append(row);
    }
    return rows;
}

QString DownloadData::askSavePath(const QString &suggestedName)
{
    QString chosen;
    if (m_chooseSavePath) {
        chosen = m_chooseSavePath(suggestedName);
    } else {
        // The program's own chooser, as the offload page's, opening where the last table went.
        QFileDialog dialog(this, QStringLiteral("保存为"),
                           AppSettings::startFolder(AppSettings::kPosSaveFolder),
                           QStringLiteral("POS表 (*.xls)"));
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setOption(QFileDialog::DontUseNativeDialog);
        dialog.setDefaultSuffix(QStringLiteral("xls"));
        dialog.selectFile(suggestedName);
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
            return QString();
        chosen = dialog.selectedFiles().constFirst();
    }
    chosen = PosNames::tablePath(chosen);
    AppSettings::setLastFolder(AppSettings::kPosSaveFolder, chosen);
    return chosen;
}

PosFileManager *DownloadData::manager() const
{
    return m_link->posManager();
}

void DownloadData::setButtonImage(Mylabel *button, const char *image)
{
    button->setPixmap(::Look::picture(image));
}

void DownloadData::setFiveLensLayout(bool fiveLens)
{
    m_fiveLens = fiveLens;
    m_independent->setVisible(fiveLens);
    m_note->setVisible(fiveLens);
    if (fiveLens)
        m_table->setFixedHeight(kFiveLensTableHeight);
}

void DownloadData::showLook(Look look)
{
    const bool busy = look == Look::Downloading;
    m_deleteButton->setEnabled(!busy);
    if (busy) {
        m_wifiButton->setEnabled(false);
        m_usbButton->setEnabled(false);
        setButtonImage(m_downloadButton, "quxiaoxiazai.png");
        return;
    }
    applyAvailability();
    if (look == Look::Cancelled) {
        m_text->clear();
        m_progress->setValue(0);
    } else {
        setButtonImage(m_downloadButton, "btn_download_nor.png");
        m_text->setText(QStringLiteral("下载成功！"));
        m_progress->setValue(100);
    }
}

// ---- Slots ----

void DownloadData::onClicked()
{
    QObject *from = sender();
    if (from == m_wifiButton)
        wifiClicked();
    else if (from == m_usbButton)
        usbClicked();
    else if (from == m_downloadButton)
        downloadClicked();
    else if (from == m_deleteButton)
        deleteClicked();
}

void DownloadData::onClickleave()
{
    QObject *from = sender();
    // While a WiFi download runs the button is the cancel button and keeps its picture.
    if (from == m_downloadButton && !m_transfer->downloading())
        setButtonImage(m_downloadButton, "btn_download_nor.png");
    else if (from == m_deleteButton)
        setButtonImage(m_deleteButton, "btn_delete_nor.png");
}

void DownloadData::onTimeout()
{
    m_transfer->step();
}

void DownloadData::onStateChanged(int a)
{
    m_transfer->setIndependentPos(a != 0);
}

void DownloadData::slotDeviceAdded(const QString &)
{
    findDrive();
}

void DownloadData::slotDeviceRemoved(const QString &)
{
    findDrive();
}

void DownloadData::refreshModeButtons()
{
    findDrive();
}

void DownloadData::refreshTable()
{
    // A download or delete in progress keeps its listing; the next entry refreshes it.
    if (!m_link->isConnected() || m_source != Wifi || m_transfer->downloading() ||
        m_transfer->deleting())
        return;
    m_timer->start(kTickMs);
    setColumns(Wifi);
    m_text->clear();
    m_progress->setValue(0);
    m_transfer->zeroManagerCache();
    m_transfer->startRefresh();
}

void DownloadData::clearRecords()
{
    if (m_source == Wifi) {
        m_table->setRowCount(0);
        m_text->clear();
        m_progress->setValue(0);
    }
    const bool wasDownloading = m_transfer->downloading();
    m_transfer->reset();
    if (wasDownloading) {
        // The download ended with the link: the page is idle again, not half-way.
        m_deleteButton->setEnabled(true);
        setButtonImage(m_downloadButton, "btn_download_nor.png");
    }
    applyAvailability();
}

// ---- WiFi ----

void DownloadData::wifiClicked()
{
    m_timer->start(kTickMs);
    m_source = Wifi;
    setColumns(Wifi);
    setButtonImage(m_wifiButton, "btn_WIFI_pre.png");
    if (m_usbPresent)
        setButtonImage(m_usbButton, "btn_USB_pre.png");
    m_text->clear();
    m_progress->setValue(0);
    m_transfer->zeroManagerCache();
    m_transfer->startRefresh();
}

void DownloadData::slotListed(int index, const PosSlotRow &row)
{
    if (m_source != Wifi || index != m_table->rowCount())
        return;
    appendRow({QString::number(m_table->rowCount() + 1), row.timeText, QString::number(row.points),
               QString::number(row.downloads)});
}

void DownloadData::downloadClicked()
{
    if (m_source == Usb) {
        startUsbDownload();
        return;
    }
    if (!m_transfer->listingComplete() || m_transfer->deleting()) {
        Prompt::inform(this, m_transfer->deleting() ? QStringLiteral("正在删除POS文件，请稍候！")
                                                    : QStringLiteral("正在读取POS列表，请稍候！"));
        return;
    }
    if (m_transfer->downloading()) {
        m_transfer->requestCancel();
        showLook(Look::Cancelled);
        m_text->setText(cancelledText());
        return;
    }
    const QList<int> rows = checkedRows();
    if (rows.isEmpty()) {
        setButtonImage(m_downloadButton, "btn_download_nor.png");
        Prompt::inform(this, QStringLiteral("请先勾选要下载的POS文件！"));
        return;
    }
    const QString path =
        askSavePath(PosNames::suggestedName(m_transfer->row(rows.first()).compactTime));
    if (path.isEmpty() || !m_transfer->startDownload(rows, path)) {
        setButtonImage(m_downloadButton, "btn_download_nor.png");
        return;
    }
    m_wifiPaths.clear();
    for (int r : rows)
        m_wifiPaths << PosNames::outputPath(path, int(rows.size()), r);
    m_wifiDone = 0;
    // The first tick asks for the file; until then the label shows the start.
    showLook(Look::Downloading);
}

QString DownloadData::cancelledText() const
{
    // The table being written keeps the records that arrived: it is named as incomplete.
    const QString cut = m_wifiDone < m_wifiPaths.size() ? m_wifiPaths.at(m_wifiDone) : QString();
    const bool partial = !cut.isEmpty() && QFileInfo::exists(cut);
    QString text = QStringLiteral("已取消下载");
    if (m_wifiDone > 0)
        text += QStringLiteral("，%1个文件已完整保存").arg(m_wifiDone);
    if (partial)
        text += QStringLiteral("，%1不完整").arg(QFileInfo(cut).fileName());
    else if (m_wifiDone == 0)
        text += QStringLiteral("，未保存文件");
    return text + QStringLiteral("！");
}

void DownloadData::downloadFailed(const QString &path)
{
    showLook(Look::Cancelled);
    setButtonImage(m_downloadButton, "btn_download_nor.png");
    Prompt::inform(this, QStringLiteral("保存文件失败！"), QDir::toNativeSeparators(path));
}

void DownloadData::deleteClicked()
{
    if (m_source != Wifi)
        return;
    // A click the page cannot take now says why instead of passing unseen.
    if (!m_transfer->listingComplete() || m_transfer->downloading()) {
        Prompt::inform(this, m_transfer->downloading() ? QStringLiteral("正在下载POS文件，请稍候！")
                                                       : QStringLiteral("正在读取POS列表，请稍候！"));
        return;
    }
    if (checkedRows().isEmpty()) {
        Prompt::inform(this, QStringLiteral("请先勾选要删除的POS文件！"));
        return;
    }
    setButtonImage(m_deleteButton, "btn_delete_hover.png");
    if (m_transfer->startDelete(checkedRows()))
        m_table->setRowCount(0);
}
