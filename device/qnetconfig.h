#pragma once

#include <QWidget>

class QLabel;
class Mylabel;
class CameraLink;

// The link page shown in the connection settings window: the state of the link to the camera
// and the button that brings it up and down. The link itself belongs to the camera link object.
class QNetConfig : public QWidget
{
    Q_OBJECT
public:
    static QNetConfig *instance();
    explicit QNetConfig(CameraLink *link, QWidget *parent = nullptr);

    QLabel *stateLabel() const { return m_state; }
    QLabel *networkLabel() const { return m_network; }
    Mylabel *buttonText() const { return m_buttonText; }
    Mylabel *buttonImage() const { return m_buttonImage; }

public slots:
    void onClicked();
    void onenterEvent();
    void onleaveEvent();

private:
    void showConnected(const QString &networkName);
    void showNotConnected();
    void showLost();
    void showButtonLook(bool hovered);

    CameraLink *m_link = nullptr;
    QLabel *m_caption = nullptr;     // label_6
    QLabel *m_state = nullptr;       // label_9
    QLabel *m_network = nullptr;     // label_7
    Mylabel *m_buttonImage = nullptr;
    Mylabel *m_buttonText = nullptr;
};
