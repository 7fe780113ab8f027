#include "editor/Unit3.h"

#include <QFont>
#include <QGuiApplication>
#include <QLabel>
#include <QLinearGradient>
#include <QPainter>
#include <QScreen>
#include <QVBoxLayout>

#include <qrencode.h>

namespace vexory {

TForm3::TForm3(QWidget* parent) : QDialog(parent)
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    m_picture = new QLabel(this);
    m_picture->setAlignment(Qt::AlignCenter);
    layout->addWidget(m_picture);
}

void TForm3::centre()
{
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        move(area.center() - rect().center());
    }
}

QImage TForm3::SplashPicture()
{
    QImage image(480, 270, QImage::Format_RGB32);
    QPainter p(&image);
    QLinearGradient g(0, 0, 0, 270);
    g.setColorAt(0, QColor(36, 84, 59));
    g.setColorAt(1, QColor(123, 236, 179));
    p.fillRect(image.rect(), g);
    p.setPen(Qt::white);
    QFont title(QStringLiteral("Noto Sans CJK SC"), 40, QFont::Bold);
    p.setFont(title);
    p.drawText(QRect(0, 60, 480, 80), Qt::AlignCenter, QStringLiteral("Vexory"));
    QFont subtitle(QStringLiteral("Noto Sans CJK SC"), 15);
    p.setFont(subtitle);
    p.drawText(QRect(0, 150, 480, 40), Qt::AlignCenter, QStringLiteral("网页记录监控 · 新数据推送到手机"));
    p.setFont(QFont(QStringLiteral("Noto Sans CJK SC"), 10));
    p.drawText(QRect(0, 225, 470, 30), Qt::AlignRight | Qt::AlignVCenter, QStringLiteral("正在载入任务…"));
    return image;
}

QImage TForm3::QrPicture(const QString& text, int scale)
{
    const QByteArray data = text.toUtf8();
    QRcode* code = QRcode_encodeString(data.constData(), 0, QR_ECLEVEL_M, QR_MODE_8, 1);
    if (!code)
        return {};
    const int border = 4;
    const int size = (code->width + 2 * border) * scale;
    QImage image(size, size, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter p(&image);
    for (int y = 0; y < code->width; ++y)
        for (int x = 0; x < code->width; ++x)
            if (code->data[y * code->width + x] & 1)
                p.fillRect((x + border) * scale, (y + border) * scale, scale, scale, Qt::black);
    QRcode_free(code);
    return image;
}

void TForm3::ShowSplash()
{
    m_mode = Mode::Splash;
    setWindowFlags(Qt::SplashScreen | Qt::FramelessWindowHint);
    const QImage picture = SplashPicture();
    m_picture->setPixmap(QPixmap::fromImage(picture));
    m_picture->show();
    setFixedSize(picture.size());
    centre();
    show();
}

void TForm3::SetRegistration(const QString& registerUrl)
{
    m_mode = Mode::Registration;
    setWindowFlags(Qt::Tool);
    setWindowTitle(QStringLiteral("微信扫码完成注册"));
    if (m_panel)
        m_panel->hide();
    const QImage picture = QrPicture(registerUrl);
    m_picture->setPixmap(QPixmap::fromImage(picture));
    m_picture->setToolTip(registerUrl);
    m_picture->show();
    setFixedSize(picture.size());
    centre();
}

void TForm3::SetOptions(QWidget* panel)
{
    m_mode = Mode::Options;
    setWindowFlags(Qt::Tool);
    setWindowTitle(QStringLiteral("Vexory  -  设置"));
    m_picture->hide();
    if (m_panel != panel) {
        if (m_panel)
            m_panel->hide();
        m_panel = panel;
        layout()->addWidget(panel);
    }
    panel->show();
    setFixedSize(337, 298);
    centre();
}

} // namespace vexory
