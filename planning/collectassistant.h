#pragma once

#include <QWidget>

class QComboBox;
class QLabel;
class QLineEdit;
class Mylabel;

// The flight-planning page: flying height, exposure spacing and line spacing from the focal
// length, the GSD and the overlaps, with the centre lens's footprint and the time between
// exposures at the crew's ground speed.
class CollectAssistant : public QWidget
{
    Q_OBJECT
public:
    explicit CollectAssistant(QWidget *parent = nullptr);

    QComboBox *modelBox() const { return m_model; }
    QLineEdit *focalEdit() const { return m_focal; }
    QLineEdit *forwardEdit() const { return m_forward; }
    QLineEdit *sideEdit() const { return m_side; }
    QComboBox *scaleBox() const { return m_scale; }
    QLineEdit *gsdEdit() const { return m_gsd; }
    QLineEdit *speedEdit() const { return m_speed; }
    QLabel *heightResult() const { return m_height; }
    QLabel *spacingResult() const { return m_spacing; }
    QLabel *lineResult() const { return m_line; }
    QLabel *acrossResult() const { return m_across; }
    QLabel *alongResult() const { return m_along; }
    QLabel *intervalResult() const { return m_interval; }
    QLabel *warningLabel() const { return m_warning; }
    Mylabel *calculateButton() const { return m_calculate; }

public slots:
    void onClicked();
    void slot_modifyText(const QString &text);
    void slot_modifyText2(const QString &text);
    void slot_modifyText1(const QString &text);
    void setText1(const QString &text);

private:
    QComboBox *m_model = nullptr;
    QLineEdit *m_focal = nullptr;
    QLineEdit *m_forward = nullptr;
    QLineEdit *m_side = nullptr;
    QComboBox *m_scale = nullptr;
    QLineEdit *m_gsd = nullptr;
    QLineEdit *m_speed = nullptr;
    QLabel *m_height = nullptr;
    QLabel *m_spacing = nullptr;
    QLabel *m_line = nullptr;
    QLabel *m_across = nullptr;
    QLabel *m_along = nullptr;
    QLabel *m_interval = nullptr;
    QLabel *m_warning = nullptr;
    Mylabel *m_calculate = nullptr;
};
