// The planning page as an operator types into it: the scale drop-down and the GSD field follow
// each other, overlaps stop at 100, a refusal keeps the last results, a calculation shows them.
#include <QtTest>

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>

#include "camsimprocess.h"
#include "collectassistant.h"
#include "mylabel.h"

class tst_PlanningPage : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { m_page.show(); }
    void startValues();
    void scaleAndGsdFollowEachOther();
    void overlapStopsAt100();
    void refusalKeepsResults();
    void calculationShowsFigures();

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

void tst_PlanningPage::startValues()
{
    QCOMPARE(m_page.modelBox()->currentText(), QStringLiteral("VestraneV7"));
    QCOMPARE(m_page.focalEdit()->text(), QStringLiteral("25"));
    QCOMPARE(m_page.forwardEdit()->text(), QStringLiteral("80"));
    QCOMPARE(m_page.sideEdit()->text(), QStringLiteral("80"));
    QCOMPARE(m_page.gsdEdit()->text(), QStringLiteral("5"));
    QCOMPARE(m_page.scaleBox()->currentText(), QStringLiteral("1:500"));
    QCOMPARE(results(), (QStringList{"300m", "30m", "56m", "282.0m", "152.0m", "1.50s", ""}));
    // The start values are what the start inputs give.
    m_page.onClicked();
    QCOMPARE(results(), (QStringList{"300m", "30m", "56m", "282.0m", "152.0m", "1.50s", ""}));
    QVERIFY(m_prompts.texts().isEmpty());
}

void tst_PlanningPage::scaleAndGsdFollowEachOther()
{
    QComboBox *scale = m_page.scaleBox();
    scale->setCurrentIndex(2);
    emit scale->textActivated(scale->currentText());
    QCOMPARE(m_page.gsdEdit()->text(), QStringLiteral("20"));
    retype(m_page.gsdEdit(), QStringLiteral("7"));
    QCOMPARE(scale->currentText(), QStringLiteral("1:1000"));
    QCOMPARE(m_page.gsdEdit()->text(), QStringLiteral("7"));
    retype(m_page.gsdEdit(), QStringLiteral("35"));
    QCOMPARE(scale->currentText(), QStringLiteral("1:5000"));
    retype(m_page.gsdEdit(), QStringLiteral("5"));
    QCOMPARE(scale->currentText(), QStringLiteral("1:500"));
    const QStringList table[] = {{"1:500", "5"}, {"1:1000", "10"}, {"1:5000", "50"}};
    for (const QStringList &entry : table) {
        emit scale->textActivated(entry[0]);
        QCOMPARE(m_page.gsdEdit()->text(), entry[1]);
    }
    // A fraction is not a whole number: the drop-down stays where the digits before it put it.
    retype(m_page.gsdEdit(), QStringLiteral("12.5"));
    QCOMPARE(scale->currentText(), QStringLiteral("1:2000"));
    m_page.slot_modifyText1(QStringLiteral("7.5"));
    QCOMPARE(scale->currentText(), QStringLiteral("1:2000"));
}

void tst_PlanningPage::overlapStopsAt100()
{
    retype(m_page.forwardEdit(), QStringLiteral("150"));
    QCOMPARE(m_page.forwardEdit()->text(), QStringLiteral("100"));
    retype(m_page.sideEdit(), QStringLiteral("100"));
    QCOMPARE(m_page.sideEdit()->text(), QStringLiteral("100"));
    retype(m_page.sideEdit(), QStringLiteral("65"));
    QCOMPARE(m_page.sideEdit()->text(), QStringLiteral("65"));
}

void tst_PlanningPage::refusalKeepsResults()
{
    const QStringList before = results();
    m_prompts.clear();
    m_page.gsdEdit()->setText(QStringLiteral("1000"));
    m_page.onClicked();
    m_page.gsdEdit()->setText(QStringLiteral("5"));
    m_page.focalEdit()->setText(QStringLiteral("100"));
    m_page.onClicked();
    QCOMPARE(m_prompts.texts(), (QStringList{"GSD输入应小于1000!", "焦距输入应小于100!"}));
    QCOMPARE(results(), before);
}

void tst_PlanningPage::calculationShowsFigures()
{
    m_page.gsdEdit()->setText(QStringLiteral("3"));
    m_page.focalEdit()->setText(QStringLiteral("35"));
    m_page.forwardEdit()->setText(QStringLiteral("80"));
    m_page.sideEdit()->setText(QStringLiteral("70"));
    m_page.speedEdit()->setText(QStringLiteral("40"));
    m_prompts.clear();
    QTest::mouseClick(m_page.calculateButton(), Qt::LeftButton);
    // 3 cm at 35 mm: 252 m high; 18 m between exposures is 0.45 s at 40 m/s, too often.
    QCOMPARE(results().mid(0, 6), (QStringList{"252m", "18m", "50m", "169.2m", "91.2m", "0.45s"}));
    QVERIFY(m_page.warningLabel()->text().contains(QStringLiteral("1.0s")));
    m_page.speedEdit()->setText(QStringLiteral("10"));
    m_page.onClicked();
    QCOMPARE(m_page.intervalResult()->text(), QStringLiteral("1.80s"));
    QCOMPARE(m_page.warningLabel()->text(), QString());
    m_page.speedEdit()->clear();
    m_page.onClicked();
    QCOMPARE(m_page.intervalResult()->text(), QStringLiteral("--"));
    QVERIFY(m_prompts.texts().isEmpty());
}

QTEST_MAIN(tst_PlanningPage)
#include "tst_planningpage.moc"
