#include "titlebar.h"

#include <QDir>
#include <QEvent>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPointer>
#include <QProcess>

#include "datafolders.h"
#include "framestyle.h"
#include "mylabel.h"
#include "prompt.h"
#include "updataui.h"
#include "look.h"

namespace {
Mylabel *imageButton(QWidget *parent, int w, int h, const char *image, const char *tip)
{
    auto *button = new Mylabel(parent);
    button->setFixedSize(w, h);
    button->setPixmap(Look::picture(image));
    button->setScaledContents(true);
    button->setToolTip(QString::fromUtf8(tip));
    return button;
}
} // namespace

TitleBar::TitleBar(QWidget *parent)
    : QWidget(parent)
{
    setFixedSize(760, 32);
    FrameStyle::setScaledBackground(this, Look::resource("title_bk.png"));

    m_logo = new QLabel(this);
    m_logo->setFixedSize(108, 21);
    m_logo->setPixmap(Look::picture("logo.png"));
    m_logo->setScaledContents(true);
    m_title = new QLabel(this);
    m_title->setScaledContents(true);

    m_help = imageButton(this, 12, 12, "help.png", "帮助文档");
    m_version = imageButton(this, 12, 14, "update.png", "版本信息");
    m_minimise = imageButton(this, 32, 32, "shrink.png", "最小化");
    m_close = imageButton(this, 12, 12, "close.png", "关闭");

    // The version button and the title stay outside the layout, at the bar's top-left corner.
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 15, 0);
    layout->setSpacing(0);
    layout->addSpacing(20);
    layout->addWidget(m_logo);
    layout->addSpacing(534);
    layout->addWidget(m_help);
    layout->addSpacing(12);
    layout->addWidget(m_minimise);
    layout->addSpacing(12);
    layout->addWidget(m_close);
    m_title->move(0, 0);
    m_version->move(0, 0);
    m_version->raise();

    for (Mylabel *button : {m_help, m_minimise, m_version, m_close})
        connect(button, &Mylabel::clicked, this, &TitleBar::onClicked);
}

TitleBar::~TitleBar()
{
    // A launcher still running when the window closes ends with it, unreported.
    for (QProcess *launcher : findChildren<QProcess *>())
        launcher->disconnect(this);
}

void TitleBar::onClicked()
{
    QWidget *top = window();
    if (!top->isWindow())
        return;
    QObject *from = sender();
    if (from == m_minimise) {
        top->showMinimized();
    } else if (from == m_close) {
        emit signalclose();
        top->close();
    } else if (from == m_version) {
        auto *update = new UpdataUi(top);
        update->setAttribute(Qt::WA_DeleteOnClose);
        update->setWindowModality(Qt::WindowModal);
        update->move(top->x() + top->width() / 3, top->y() + top->height() / 3);
        update->show();
    } else if (from == m_help) {
        openManual(top);
    }
}

void TitleBar::openManual(QWidget *top)
{
    const QString pdf = DataFolders::shippedFile(QString::fromUtf8(DataFolders::manualFileName()));
    if (!QFileInfo(pdf).isFile()) {
        Prompt::inform(top, QStringLiteral("未找到帮助文档！"), QDir::toNativeSeparators(pdf));
        return;
    }
    // The desktop's launcher reports a missing viewer only through its exit code (and stderr),
    // and it may take a while to decide: it runs beside the window and answers when it ends.
    auto *launcher = new QProcess(this);
    QPointer<QWidget> window(top);
    const auto failed = [launcher, window, pdf] {
        launcher->deleteLater();
        if (window)
            Prompt::inform(window, QStringLiteral("未找到PDF阅读器！"),
                           QDir::toNativeSeparators(pdf));
    };
    connect(launcher, &QProcess::errorOccurred, this, [launcher, failed](QProcess::ProcessError e) {
        if (e == QProcess::FailedToStart)
            failed();
    });
    connect(launcher, &QProcess::finished, this,
            [launcher, failed](int code, QProcess::ExitStatus status) {
                if (status == QProcess::NormalExit && code == 0)
                    launcher->deleteLater();
                else
                    failed();
            });
    launcher->setProcessChannelMode(QProcess::ForwardedChannels);
    launcher->start(QStringLiteral("xdg-open"), {pdf});
}

bool TitleBar::eventFilter(QObject *watched, QEvent *event)
{
    switch (event->type()) {
    case QEvent::WindowTitleChange:
        if (auto *w = qobject_cast<QWidget *>(watched))
            m_title->setText(w->windowTitle());
        return true;
    case QEvent::WindowIconChange:
    case QEvent::Resize:
    case QEvent::WindowStateChange:
        return true;
    default:
        return QWidget::eventFilter(watched, event);
    }
}

void TitleBar::mousePressEvent(QMouseEvent *event)
{
    FrameStyle::dragWindow(this, event);
}

void TitleBar::mouseDoubleClickEvent(QMouseEvent *)
{
}
