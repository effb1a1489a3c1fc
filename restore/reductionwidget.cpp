#include "reductionwidget.h"

#include <QCheckBox>
#include <QEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QProgressBar>
#include <QTimer>

#include <memory>

#include "appsettings.h"
#include "cameracards.h"
#include "cardtemplate.h"
#include "checkv7thread.h"
#include "clearthread.h"
#include "framestyle.h"
#include "myflyui.h"
#include "mylabel.h"
#include "mytipui.h"
#include "prompt.h"
#include "restorecards.h"
#include "restorecheckthread.h"
#include "look.h"

namespace {

const QString kLoading = Look::resource("icon_loading.png");
const QString kOk = Look::resource("ok.png");
const QString kFail = Look::resource("icon_fail.png");

// Rows from the top: Front, Back, Right, Left, Center; the values are restore positions.
constexpr int kRowPositions[ReductionWidget::Cards] = {4, 3, 2, 1, 0};

// A reason names devices and folders: the second text may need three lines.
void wrapSecondText(MyFlyUi *box)
{
    box->label_3->setWordWrap(true);
    box->label_3->setGeometry(16, 62, 290, 46);
    box->label_3->setFont(Look::font(9));
}

void informWrapped(QWidget *parent, const QString &text, const QString &second)
{
    std::unique_ptr<MyFlyUi> box(ReductionWidget::makeNotice(parent, text, second));
    box->exec();
}

bool askLong(QWidget *parent, const QString &question)
{
    std::unique_ptr<MyTipUi> tip(ReductionWidget::makeQuestion(parent, question));
    return tip->exec() == 1;
}

} // namespace

ReductionWidget *ReductionWidget::instance()
{
    static ReductionWidget *page = new ReductionWidget();
    return page;
}

ReductionWidget::ReductionWidget(QWidget *parent)
    : QWidget(parent)
{
    resize(606, 508);
    FrameStyle::setScaledBackground(this, Look::resource("smal_bk.png"));

    auto *warning = new QLabel(QStringLiteral("该功能将清空相机中所有数据，使用前请做好备份！"), this);
    warning->setObjectName(QStringLiteral("warning"));
    warning->setGeometry(40, 46, 526, 28);
    warning->setAlignment(Qt::AlignCenter);
    warning->setFont(Look::font(12));
    warning->setStyleSheet(QStringLiteral("color: rgb(230, 70, 50);"));
    buildRows();

    m_twoCopies = new QCheckBox(QStringLiteral("清除前要求两份备份"), this);
    m_twoCopies->setObjectName(QStringLiteral("twoCopies"));
    m_twoCopies->setGeometry(56, 374, 240, 24);
    m_twoCopies->setFont(Look::font(10));
    m_twoCopies->setChecked(AppSettings::value(QLatin1String(AppSettings::kRequireTwoCopies), false)
                                .toBool());
    connect(m_twoCopies, &QCheckBox::toggled, this, [](bool on) {
        AppSettings::setValue(QLatin1String(AppSettings::kRequireTwoCopies), on);
    });

    m_button = new Mylabel(this);
    m_button->setObjectName(QStringLiteral("restoreButton"));
    m_button->setGeometry(249, 404, 108, 36);
    m_button->setPixmap(Look::picture("btn_B_nor.png"));
    m_button->setScaledContents(true);
    auto *caption = new QLabel(QStringLiteral("开始还原"), m_button);
    caption->setGeometry(0, 0, 108, 36);
    caption->setAlignment(Qt::AlignCenter);
    caption->setFont(Look::font(11));
    caption->setStyleSheet(QStringLiteral("color: rgb(255, 255, 255);"));
    caption->setAttribute(Qt::WA_TransparentForMouseEvents);
    m_button->installEventFilter(this);
    refreshStorage();
}

void ReductionWidget::setCardRoots(const QStringList &roots)
{
    m_roots = roots;
    m_rootsGiven = true;
}

QStringList ReductionWidget::cardRoots() const
{
    return m_rootsGiven ? m_roots : CameraCards::instance()->checkPaths();
}

void ReductionWidget::buildRows()
{
    for (int row = 0; row < Cards; ++row) {
        const int position = kRowPositions[row];
        const int y = 112 + 54 * row;
        auto *name = new QLabel(RestoreCards::label(position), this);
        name->setGeometry(56, y, 70, 24);
        name->setFont(Look::font(11));
        name->setStyleSheet(QStringLiteral("color: rgb(102, 102, 102);"));
        m_bars[position] = new QProgressBar(this);
        m_bars[position]->setGeometry(132, y + 4, 220, 16);
        m_bars[position]->setTextVisible(false);
        m_bars[position]->setStyleSheet(QStringLiteral(
            "QProgressBar { border: 1px solid rgb(200, 200, 200); border-radius: 3px;"
            " background: rgb(236, 236, 236); }"
            "QProgressBar::chunk { background: rgb(0, 160, 230); border-radius: 2px; }"));
        m_texts[position] = new QLabel(this);
        // Wide enough for a terabyte card's figures, "已存储999.98G|共:999.99G", up to the icon.
        m_texts[position]->setGeometry(360, y, 186, 24);
        m_texts[position]->setFont(Look::font(10));
        m_texts[position]->setStyleSheet(QStringLiteral("color: rgb(50, 50, 50);"));
        m_copies[position] = new QLabel(this);
        m_copies[position]->setObjectName(QStringLiteral("copies%1").arg(position));
        m_copies[position]->setGeometry(132, y + 24, 414, 18);
        m_copies[position]->setFont(Look::font(9));
        m_copies[position]->setStyleSheet(QStringLiteral("color: rgb(230, 70, 50);"));
        m_icons[position] = new QLabel(this);
        m_icons[position]->setGeometry(548, y, 24, 24);
        m_icons[position]->setScaledContents(true);
        m_icons[position]->hide();
    }
}

void ReductionWidget::setStorage(int position, double free, double total)
{
    if (position < 0 || position >= Cards)
        return;
    freeGiB[position] = free;
    totalGiB[position] = total;
}

void ReductionWidget::refreshStorage()
{
    for (int position = 0; position < Cards; ++position) {
        // The check thread hands (0, 0) for a card that is not there, the older design -1.
        if (totalGiB[position] <= 0.0) {
            m_bars[position]->setRange(0, 100);
            m_texts[position]->setText(QStringLiteral("未连接"));
            continue;
        }
        m_bars[position]->setRange(0, int(totalGiB[position]));
        m_texts[position]->setText(QStringLiteral("已存储%1G|共:%2G")
                                       .arg(totalGiB[position] - freeGiB[position], 0, 'f', 2)
                                       .arg(totalGiB[position], 0, 'f', 2));
    }
}

void ReductionWidget::UpGrade()
{
    for (int position = 0; position < Cards; ++position) {
        const bool card = totalGiB[position] > 0.0;
        m_bars[position]->setValue(card ? int(totalGiB[position] - freeGiB[position]) : 0);
    }
}

void ReductionWidget::poptip()
{
    Prompt::inform(this, QStringLiteral("请将相机通过usb连接电脑！"));
}

bool ReductionWidget::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_button) {
        if (event->type() == QEvent::Enter) {
            m_button->setCursor(Qt::PointingHandCursor);
        } else if (event->type() == QEvent::Leave) {
            m_button->setCursor(Qt::ArrowCursor);
        } else if (event->type() == QEvent::MouseButtonPress &&
                   static_cast<QMouseEvent *>(event)->button() == Qt::LeftButton) {
            // The questions run their own loops: not inside the mouse event.
            QMetaObject::invokeMethod(this, &ReductionWidget::startRestore, Qt::QueuedConnection);
            return true;
        }
    } else if (watched == m_busy && m_running) {
        // The busy box has no button; neither Escape nor the window system may close it.
        if ((event->type() == QEvent::KeyPress &&
             static_cast<QKeyEvent *>(event)->key() == Qt::Key_Escape) ||
            event->type() == QEvent::Close) {
            event->ignore();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

MyFlyUi *ReductionWidget::makeNotice(QWidget *parent, const QString &text, const QString &second)
{
    auto *box = new MyFlyUi(parent);
    box->label_2->setText(text);
    wrapSecondText(box);
    box->label_3->setText(second);
    FrameStyle::centreOn(box, parent);
    return box;
}

MyTipUi *ReductionWidget::makeQuestion(QWidget *parent, const QString &question)
{
    auto *tip = new MyTipUi(parent);
    tip->label_2->setText(question);
    // Room for three lines: the save gate may name all five cameras, for up to three reasons.
    tip->label_2->setGeometry(14, 34, 294, 62);
    if (question.size() > 40)
        tip->label_2->setFont(Look::font(question.size() > 80 ? 8 : 10));
    FrameStyle::centreOn(tip, parent);
    return tip;
}

MyFlyUi *ReductionWidget::makeBusyDialog(QWidget *parent, const QString &text)
{
    auto *busy = new MyFlyUi(parent);
    busy->rotationTimer->start(500);
    busy->rotating->show();
    busy->label_2->setText(text);
    busy->okImage->hide();
    busy->okText->hide();
    busy->okImage->setEnabled(false);
    busy->okText->setEnabled(false);
    busy->setWindowModality(Qt::ApplicationModal);
    return busy;
}

void ReductionWidget::showBusy(const QString &text)
{
    if (!m_busy) {
        m_busy = makeBusyDialog(this, text);
        m_busy->installEventFilter(this);
    }
    m_busy->label_2->setText(text);
    FrameStyle::centreOn(m_busy, this);
    m_busy->show();
}

void ReductionWidget::startRestore()
{
    const QStringList roots = cardRoots();
    if (m_running || roots.join(QString()).isEmpty())
        return;
    if (!Prompt::ask(this, QStringLiteral("将清除相机中所有的数据,是否继续?")))
        return;
    m_running = true;
    for (QLabel *copies : m_copies)
        copies->clear();
    for (int position = 0; position < Cards; ++position) {
        m_icons[position]->setPixmap(QPixmap(kLoading));
        m_icons[position]->setVisible(!roots.value(position).isEmpty());
    }
    showBusy(QStringLiteral("正在检查照片备份,请稍候!"));
    m_check = new RestoreCheckThread(roots, this);
    connect(m_check, &QThread::finished, this, &ReductionWidget::onChecked);
    m_check->start();
}

void ReductionWidget::onChecked()
{
    const QList<RestoreCard> checked = m_check->cards();
    const QString missing = m_check->templateMissing();
    m_check->deleteLater();
    m_check = nullptr;
    m_busy->hide();
    if (!missing.isEmpty()) {
        informWrapped(this, QStringLiteral("缺少相机卡模板文件，未做任何更改"),
                      CardTemplate::folderName() + QLatin1Char('/') + missing);
        stopBeforeFormat();
        return;
    }
    QStringList roots(Cards, QString());
    for (const RestoreCard &card : checked) {
        if (card.willFormat())
            roots[card.position] = card.root;
        else if (card.present())
            m_icons[card.position]->setPixmap(QPixmap(kFail));
    }
    for (const RestoreCard &card : checked) {
        if (card.present() && !card.refusal.isEmpty())
            informWrapped(this, RestoreCards::cameraName(card.position) + QStringLiteral("的卡不会被还原"),
                          card.refusal);
    }
    if (roots == QStringList(Cards, QString())) {
        stopBeforeFormat();
        return;
    }
    // Each camera's photos on one disk only, or on none, stay on the page beside its card.
    for (const RestoreCard &card : checked)
        m_copies[card.position]->setText(RestorePlan::copyText(card));
    const int required = m_twoCopies->isChecked() ? 2 : 1;
    const QString question = RestorePlan::unsavedQuestion(checked, required);
    if (!question.isEmpty() && !askLong(this, question)) {
        stopBeforeFormat();
        return;
    }
    showBusy(QStringLiteral("正在还原中,请勿中断软件!"));
    m_clear = new ClearThread(this);
    m_clear->setCardRoots(roots);
    connect(m_clear, &QThread::finished, this, &ReductionWidget::closetip);
    m_clear->start();
}

void ReductionWidget::stopBeforeFormat()
{
    for (QLabel *icon : m_icons)
        icon->hide();
    delete m_busy;
    m_busy = nullptr;
    m_running = false;
    emit restoreEnded();
}

void ReductionWidget::closetip()
{
    QStringList failed;
    const QStringList formatted = m_clear->cardRoots();
    for (int position = 0; position < Cards; ++position) {
        if (formatted.value(position).isEmpty())
            continue;
        const bool ok = m_clear->result(position) != 0;
        m_icons[position]->setPixmap(QPixmap(ok ? kOk : kFail));
        if (!ok)
            failed << RestoreCards::cameraName(position) + QStringLiteral("：") +
                          m_clear->error(position);
    }
    // A format may have moved a card: measure the cards where they are now.
    QStringList measured = cardRoots();
    while (measured.size() < Cards)
        measured << QString();
    for (int position = 0; position < Cards; ++position) {
        if (!formatted.value(position).isEmpty())
            measured[position] = formatted.at(position);
    }
    m_clear->deleteLater();
    m_clear = nullptr;
    m_running = false;

    m_busy->rotationTimer->stop();
    m_busy->rotating->hide();
    m_busy->label_2->setText(QStringLiteral("完成还原！"));
    // What went wrong is the operator's to know, not only the log's.
    wrapSecondText(m_busy);
    m_busy->label_3->setText(failed.join(QStringLiteral("；")));
    m_busy->okImage->show();
    m_busy->okText->show();
    m_busy->okImage->setEnabled(true);
    m_busy->okText->setEnabled(true);
    MyFlyUi *done = m_busy;
    m_busy = nullptr;
    connect(done, &QDialog::finished, done, &QObject::deleteLater);
    startCardCheck(measured);
    emit restoreEnded();
}

void ReductionWidget::startCardCheck(const QStringList &roots)
{
    auto *check = new CheckV7Thread(roots, this);
    connect(check, &CheckV7Thread::cardStorage, this, &ReductionWidget::setStorage);
    connect(check, &CheckV7Thread::storageRefresh, this, &ReductionWidget::refreshStorage);
    connect(check, &CheckV7Thread::upgrade, this, &ReductionWidget::UpGrade);
    connect(check, &CheckV7Thread::popui, this, &ReductionWidget::poptip);
    connect(check, &QThread::finished, check, &QObject::deleteLater);
    check->start(QThread::InheritPriority);
}
