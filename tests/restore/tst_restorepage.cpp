// The restore page with cards that are folders of a media root: the storage rows, the
// questions in their order, the save gate, the refusals and the cards each outcome leaves.
#include <QProgressBar>

#include "cameralink.h"
#include "framestyle.h"
#include "restorefixture.h"

using namespace RestoreFixture;

class tst_RestorePage : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void storageRows_data();
    void storageRows();
    void busyDialog();
    void restore_data();
    void restore();

private:
    QString card(const QString &label) const { return m_media.filePath(label); }

    QTemporaryDir m_dir;
    QDir m_media;
};

void tst_RestorePage::initTestCase()
{
    FrameStyle::registerFontSubstitutions();
    m_media = QDir(m_dir.filePath(QStringLiteral("media")));
    qputenv("V7_MEDIA_ROOT", QFile::encodeName(m_media.path()));
}

void tst_RestorePage::init()
{
    QVERIFY(m_media.removeRecursively() && m_media.mkpath(QStringLiteral(".")));
    QFile::remove(DataFolders::perUserDataFolder() + QStringLiteral("/Taskconfig.xml"));
    qunsetenv("V7_SHIPPED_DIR");
    CameraLink::instance()->setCardsPresent(true);
}

void tst_RestorePage::storageRows_data()
{
    QTest::addColumn<double>("free");
    QTest::addColumn<double>("total");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("maximum");
    QTest::addColumn<int>("value");
    QTest::newRow("no card") << 0.0 << 0.0 << "未连接" << 100 << 0;
    QTest::newRow("no card, the older figure") << 0.0 << -1.0 << "未连接" << 100 << 0;
    QTest::newRow("a card in use") << 17.37 << 29.72 << "已存储12.35G|共:29.72G" << 29 << 12;
    QTest::newRow("an empty card") << 59.49 << 59.49 << "已存储0.00G|共:59.49G" << 59 << 0;
}

void tst_RestorePage::storageRows()
{
    QFETCH(double, free);
    QFETCH(double, total);
    QFETCH(QString, text);
    QFETCH(int, maximum);
    QFETCH(int, value);
    ReductionWidget page;
    page.setStorage(3, free, total); // back
    page.setStorage(0, 1.0, 8.0);
    page.refreshStorage();
    page.UpGrade();
    QCOMPARE(page.storageText(3)->text(), text);
    QCOMPARE(page.storageBar(3)->maximum(), maximum);
    QCOMPARE(page.storageBar(3)->value(), value);
    QCOMPARE(page.storageText(0)->text(), QStringLiteral("已存储7.00G|共:8.00G"));
    QCOMPARE(page.storageText(4)->text(), QStringLiteral("未连接"));

    ModalAnswerer answerer({});
    page.poptip();
    QCOMPARE(answerer.texts, QStringList{"请将相机通过usb连接电脑！|"});
}

void tst_RestorePage::busyDialog()
{
    QWidget parent;
    MyFlyUi *busy = ReductionWidget::makeBusyDialog(&parent, QStringLiteral("正在还原中,请勿中断软件!"));
    busy->show();
    QVERIFY(busy->rotating->isVisible());
    QCOMPARE(busy->rotationTimer->interval(), 500);
    QVERIFY(busy->rotationTimer->isActive());
    QVERIFY(!busy->okText->isVisible() && !busy->okText->isEnabled());
    QVERIFY(!busy->okImage->isVisible());
    QCOMPARE(busy->windowModality(), Qt::ApplicationModal);
}

void tst_RestorePage::restore_data()
{
    QTest::addColumn<QStringList>("cards");   // labels of the folders made, "-" = no AVF_INFO
    QTest::addColumn<QStringList>("roots");   // given to the page in restore order
    QTest::addColumn<bool>("offloaded");      // the photos have verified copies
    QTest::addColumn<QStringList>("answers");
    QTest::addColumn<QStringList>("boxes");   // the texts the operator sees, in order
    QTest::addColumn<QString>("icons");       // per restore position: . hidden, o ok, x fail
    QTest::addColumn<QStringList>("restored"); // folders emptied and holding the structure

    const QStringList five{"Center", "Left", "Right", "Back", "Front"};
    const QString confirm = QStringLiteral("将清除相机中所有的数据,是否继续?");
    const QString done = QStringLiteral("完成还原！|");
    QTest::newRow("five cards, all photos saved")
        << five << five << true << QStringList{"yes"} << QStringList{confirm, done} << "ooooo"
        << five;
    QTest::newRow("only the back and centre cards")
        << five << QStringList{"Center", "", "", "Back", ""} << true << QStringList{"yes"}
        << QStringList{confirm, done} << "o..o." << QStringList{"Center", "Back"};
    QTest::newRow("cancelled") << five << five << true << QStringList{"no"} << QStringList{confirm}
                               << "....." << QStringList{};
    QTest::newRow("unsaved photos, the operator stops")
        << five << five << false << QStringList{"yes", "no"}
        << QStringList{confirm, "下视相机有 2 张、左视相机有 2 张、右视相机有 2 张、后视相机有 2 张、"
                                "前视相机有 2 张照片尚未验证备份，仍要清除吗？"}
        << "....." << QStringList{};
    QTest::newRow("one unsaved card, the operator goes on")
        << QStringList{"Front"} << QStringList{"", "", "", "", "Front"} << false
        << QStringList{"yes", "yes"}
        << QStringList{confirm, "前视相机有 2 张照片尚未验证备份，仍要清除吗？", done} << "....o"
        << QStringList{"Front"};
    QTest::newRow("a card without AVF_INFO")
        << QStringList{"-Center", "Back"} << QStringList{"Center", "", "", "Back", ""} << true
        << QStringList{"yes"}
        << QStringList{confirm, "下视相机的卡不会被还原|" + QStringLiteral("%1 上没有 AVF_INFO 文件夹，不是相机卡"), done}
        << "x..o." << QStringList{"Back"};
    QTest::newRow("a folder that is no mount point")
        << QStringList{"Back"} << QStringList{"/", "", "", "Back", ""} << true << QStringList{"yes"}
        << QStringList{confirm, "下视相机的卡不会被还原|/ 不是挂载点", done} << "x..o."
        << QStringList{"Back"};
    QTest::newRow("no card at all: the press does nothing")
        << QStringList{} << QStringList(5, QString()) << true << QStringList{} << QStringList{}
        << "....." << QStringList{};
    QTest::newRow("the template is missing")
        << five << five << true << QStringList{"yes"}
        << QStringList{confirm, "缺少相机卡模板文件，未做任何更改|R9相机替换文件/PRIVATE/SONY/SONYCARD.IND"}
        << "....." << QStringList{};
}

void tst_RestorePage::restore()
{
    QFETCH(QStringList, cards);
    QFETCH(QStringList, roots);
    QFETCH(bool, offloaded);
    QFETCH(QStringList, answers);
    QFETCH(QStringList, boxes);
    QFETCH(QString, icons);
    QFETCH(QStringList, restored);

    for (QString label : cards) {
        const bool avfInfo = !label.startsWith(QLatin1Char('-'));
        label.remove(QLatin1Char('-'));
        QVERIFY(makeCameraCard(card(label), 2, avfInfo));
        if (!avfInfo)
            boxes.replaceInStrings(QStringLiteral("%1"), card(label));
    }
    QStringList pageRoots;
    for (const QString &root : roots)
        pageRoots << (root.isEmpty() || root.startsWith(QLatin1Char('/')) ? root : card(root));
    if (offloaded)
        QVERIFY(offload(QStringList(pageRoots).replaceInStrings(QRegularExpression("^/$"), QString()),
                        m_dir.filePath(QStringLiteral("target"))));
    if (QTest::currentDataTag() == QLatin1String("the template is missing"))
        qputenv("V7_SHIPPED_DIR", QFile::encodeName(m_dir.path()));
    CameraLink::instance()->setCardsPresent(!cards.isEmpty());
    const QStringList before = OffloadFixture::filesBelow(m_media.path());

    ReductionWidget page;
    page.setCardRoots(pageRoots);
    page.show();
    ModalAnswerer answerer(answers);
    QVERIFY(pressRestore(&page, &answerer, int(boxes.size())));
    QCOMPARE(answerer.texts, boxes);
    QVERIFY(!page.busyDialog());

    QString shown;
    for (int position = 0; position < RestoreCards::Count; ++position) {
        QLabel *icon = page.resultIcon(position);
        const QImage image = icon->pixmap().toImage();
        shown += !icon->isVisible() ? QLatin1Char('.')
                 : image == QPixmap(QStringLiteral(":/V7KAPP/res/ok.png")).toImage() ? QLatin1Char('o')
                 : image == QPixmap(QStringLiteral(":/V7KAPP/res/icon_fail.png")).toImage()
                     ? QLatin1Char('x')
                     : QLatin1Char('?');
    }
    QCOMPARE(shown, icons);
    for (QString label : cards) {
        label.remove(QLatin1Char('-'));
        const QStringList files = OffloadFixture::filesBelow(card(label));
        if (restored.contains(label)) {
            QStringList structure = CardTemplate::files();
            structure.sort();
            QCOMPARE(files, structure);
            QVERIFY(CardTemplate::holds(CardTemplate::folder(), card(label)));
        } else {
            QVERIFY2(files.contains(QStringLiteral("DCIM/100MSDCF/DSC00001.JPG")), qPrintable(label));
        }
    }
    if (restored.isEmpty())
        QCOMPARE(OffloadFixture::filesBelow(m_media.path()), before);
    else // the check after the restore measures the cards again
        QTRY_VERIFY(page.storageText(int(roots.indexOf(restored.first())))
                        ->text()
                        .startsWith(QStringLiteral("已存储")));
}

QTEST_MAIN(tst_RestorePage)
#include "tst_restorepage.moc"
