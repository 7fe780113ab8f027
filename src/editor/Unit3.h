#pragma once

// TForm3: the wizard window, also used as the splash screen at start-up, the
// registration picture (a QR code of the service's register page) and the host of
// the options panel. The browser mode of the wizard comes with page marking.

#include <QDialog>
#include <QImage>

class QLabel;

namespace vexory {

class TForm3 : public QDialog
{
    Q_OBJECT
public:
    enum class Mode { Splash, Registration, Options };

    explicit TForm3(QWidget* parent = nullptr);

    // Borderless, sized to the splash picture, centred.
    void ShowSplash();
    // Tool window sized to the QR code of `registerUrl`, caption "微信扫码完成注册".
    void SetRegistration(const QString& registerUrl);
    // Tool window holding `panel` (337 x 298), caption "Vexory  -  设置".
    void SetOptions(QWidget* panel);
    Mode CurrentMode() const { return m_mode; }
    QLabel* Picture() const { return m_picture; }

    static QImage SplashPicture();
    static QImage QrPicture(const QString& text, int scale = 6);

private:
    void centre();

    Mode m_mode = Mode::Splash;
    QLabel* m_picture = nullptr;
    QWidget* m_panel = nullptr;
};

} // namespace vexory
