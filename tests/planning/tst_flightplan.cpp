// The planning calculator's refusals and their order, then the page as an operator types into it
// and `v7tool plan` on the same inputs (the library's figures have their own test).
#include <QtTest>

#include <QComboBox>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>

#include "camsimprocess.h"
#include "collectassistant.h"
#include "flightplan.h"
#include "mylabel.h"
#include "testtools.h"

namespace {
const QString kWarning =
    QStringLiteral("拍照间隔短于相机最短触发间隔1.0s，\n请降低地速或航向重叠度！");

// GSD, focal, forward and side overlap, and the ground speed (20 when not given).
PlanInput input(const QStringList &texts)
{
    PlanInput in;
    in.gsd = texts[0];
    in.focal = texts[1];
    in.forwardOverlap = texts[2];
    in.sideOverlap = texts[3];
    in.speed = texts.value(4, QStringLiteral("20"));
    return in;
}

ToolRun plan(const QStringList &arguments)
{
    return runTool(V7_TOOL, QStringList{"plan"} + arguments);
}
} // namespace

class tst_FlightPlan : public QObject
{
    Q_OBJECT
private slots:
    void refusals_data();
    void refusals();
    void pageStarts();
    void pageAndTool_data();
    void pageAndTool();
    void pageAndToolRefuse();

private:
    void retype(QLineEdit *edit, const QString &text)
    {
        edit->clear();
        QTest::keyClicks(edit, text);
    }
    QStringList results() const
    {
        return {m_page.heightResult()->text(), m_page.spacingResult()->text(),
                m_page.lineResult()->text(),   m_page.acrossResult()->text(),
                m_page.alongResult()->text(),  m_page.intervalResult()->text(),
                m_page.warningLabel()->text()};
    }

    CollectAssistant m_page;
    PromptCatcher m_prompts;
};

void tst_FlightPlan::refusals_data()
{
    QTest::addColumn<QStringList>("in");
    QTest::addColumn<QString>("message");
    const QString illegal = QStringLiteral("输入值非法");
    const QString gsd = QStringLiteral("GSD输入应小于1000!");
    const QString focal = QStringLiteral("焦距输入应小于100!");
    QTest::newRow("start values") << QStringList{"5", "25", "80", "80"} << "";
    QTest::newRow("GSD 999.9") << QStringList{"999.9", "25", "80", "80"} << "";
    QTest::newRow("GSD 1000") << QStringList{"1000", "25", "80", "80"} << gsd;
    QTest::newRow("focal 99.99") << QStringList{"5", "99.99", "80", "80"} << "";
    QTest::newRow("focal 100") << QStringList{"5", "100", "80", "80"} << focal;
    QTest::newRow("GSD exponent") << QStringList{"1e2", "25", "80", "80"} << illegal;
    QTest::newRow("GSD trailing point") << QStringList{"5.", "25", "80", "80"} << illegal;
    QTest::newRow("overlap plus") << QStringList{"5", "25", "+80", "80"} << illegal;
    // The order: GSD limit, then the focal limit, then the other texts.
    QTest::newRow("GSD before focal") << QStringList{"1000", "100", "80", "80"} << gsd;
    QTest::newRow("focal before overlap") << QStringList{"5", "100", "+80", "80"} << focal;
    QTest::newRow("GSD text before its limit") << QStringList{"1000.", "25", "80", "80"} << illegal;
    QTest::newRow("overlap 99") << QStringList{"5", "25", "99", "99"} << "";
    QTest::newRow("overlap 100") << QStringList{"5", "25", "100", "80"} << "重叠度应小于100%!";
    QTest::newRow("sidelap 100") << QStringList{"5", "25", "80", "100"} << "旁向重叠度应小于100%!";
}

void tst_FlightPlan::refusals()
{
    QFETCH(QStringList, in);
    QTEST(FlightPlan::calculate(input(in)).message, "message");
}

// The start values are what the start inputs give, and a scale entry sets its GSD.
void tst_FlightPlan::pageStarts()
{
    m_page.show();
    const QStringList start = results();
    QCOMPARE(start, (QStringList{"300m", "30m", "56m", "282.0m", "152.0m", "1.50s", ""}));
    m_page.onClicked();
    QCOMPARE(results(), start);
    emit m_page.scaleBox()->textActivated(QStringLiteral("1:2000"));
    QCOMPARE(m_page.gsdEdit()->text(), QStringLiteral("20"));
    for (const QLabel *label : m_page.findChildren<QLabel *>())
        QVERIFY2(label->text() != QStringLiteral("×"), "a mark that does nothing");
}

void tst_FlightPlan::pageAndTool_data()
{
    QTest::addColumn<QString>("texts"); // GSD, focal, overlap, sidelap, speed, as typed
    QTest::addColumn<QString>("figures");
    QTest::addColumn<bool>("tooFast");
    QTest::newRow("start values") << "5 25 80 80 20"
                                  << "300m 30m 56m 282.0m 152.0m 1.50s" << false;
    // 18 m between exposures at 40 m/s: 0.45 s, faster than the camera fires.
    QTest::newRow("too fast") << "3 35 80 70 40"
                              << "252m 18m 50m 169.2m 91.2m 0.45s" << true;
    QTest::newRow("slower") << "3 35 80 70 10"
                            << "252m 18m 50m 169.2m 91.2m 1.80s" << false;
    QTest::newRow("overlap 99, no speed") << "10 16 99 30 0"
                                          << "384m 3m 394m 564.0m 304.0m --" << false;
}

void tst_FlightPlan::pageAndTool()
{
    QFETCH(QString, texts);
    const QStringList in = texts.split(' ');
    QFETCH(QString, figures);
    const QStringList shown = figures.split(' ');
    QFETCH(bool, tooFast);
    QLineEdit *edits[] = {m_page.gsdEdit(), m_page.focalEdit(), m_page.forwardEdit(),
                          m_page.sideEdit(), m_page.speedEdit()};
    for (int i = 0; i < 5; ++i)
        retype(edits[i], in[i]);
    m_prompts.clear();
    QTest::mouseClick(m_page.calculateButton(), Qt::LeftButton);
    QCOMPARE(results(), shown + QStringList{tooFast ? kWarning : QString()});
    QVERIFY(m_prompts.texts().isEmpty());

    const QStringList args{"--gsd", in[0],       "--focal", in[1],     "--overlap",
                           in[2],   "--sidelap", in[3],     "--speed", in[4]};
    const QStringList captions{"飞行高度：", "航向间隔：", "航线间隔：",
                               "旁向覆盖：", "航向覆盖：", "拍照间隔："};
    QString text;
    for (int i = 0; i < 6; ++i)
        text += shown[i] == "--" ? QString() : captions[i] + shown[i] + '\n';
    const ToolRun r = plan(args);
    QCOMPARE(r.exitCode, 0);
    QCOMPARE(QString::fromUtf8(r.out), tooFast ? text + kWarning + '\n' : text);
    const QJsonObject json = plan(args + QStringList{"--json"}).json();
    QCOMPARE(json.value("flyingHeight").toInt(), shown[0].chopped(1).toInt());
    QCOMPARE(json.value("footprintAlong").toDouble(), shown[4].chopped(1).toDouble());
    QCOMPARE(json.value("shortestInterval").isNull(), shown[5] == "--");
    QCOMPARE(json.value("tooFast").toBool(), tooFast);
}

// The page keeps its last results and says why; v7tool prints the same message (exit 1), or its
// usage for arguments it does not take (exit 2).
void tst_FlightPlan::pageAndToolRefuse()
{
    const QStringList before = results();
    m_prompts.clear();
    m_page.gsdEdit()->setText(QStringLiteral("1000"));
    m_page.onClicked();
    m_page.gsdEdit()->setText(QStringLiteral("3"));
    m_page.focalEdit()->setText(QStringLiteral("100"));
    m_page.onClicked();
    m_page.focalEdit()->setText(QStringLiteral("25"));
    retype(m_page.sideEdit(), QStringLiteral("150")); // typed past 100, held at 100
    m_page.onClicked();
    QCOMPARE(m_prompts.texts(), (QStringList{"GSD输入应小于1000!", "焦距输入应小于100!",
                                             "旁向重叠度应小于100%!"}));
    QCOMPARE(results(), before);
    for (const char *refusal : {"--gsd 1000 --overlap 80 GSD输入应小于1000!",
                                "--gsd 5 --overlap 150 重叠度应小于100%!"}) {
        const QStringList words = QString::fromUtf8(refusal).split(' ');
        const ToolRun refused =
            plan(words.mid(0, 4) + QStringList{"--focal", "25", "--sidelap", "80"});
        QCOMPARE(refused.exitCode, 1);
        QCOMPARE(QString::fromUtf8(refused.err).trimmed(), words[4]);
    }
    const ToolRun usage = plan({"--gsd", "5", "--overlap", "80", "--sidelap", "80", "--fast", "1"});
    QCOMPARE(usage.exitCode, 2);
    QVERIFY(usage.err.contains("usage:"));
}

QTEST_MAIN(tst_FlightPlan)
#include "tst_flightplan.moc"
