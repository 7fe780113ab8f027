#include "widgets/screen_fit.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

#include <algorithm>

namespace vexory {

bool HasDisplay()
{
    const QString platform = QGuiApplication::platformName();
    return platform != QLatin1String("offscreen") && platform != QLatin1String("minimal");
}

QRect FittedRect(QSize wanted, QSize minimum, const QRect& available)
{
    const int width = std::max(minimum.width(), std::min(wanted.width(), available.width()));
    const int height = std::max(minimum.height(), std::min(wanted.height(), available.height()));
    const int x = available.left() + std::max(0, (available.width() - width) / 2);
    const int y = available.top() + std::max(0, (available.height() - height) / 2);
    return {x, y, width, height};
}

void FitOnScreen(QWidget* window, QSize wanted, bool fixed)
{
    QScreen* screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen();
    if (!screen) {
        fixed ? window->setFixedSize(wanted) : window->resize(wanted);
        return;
    }
    // The title bar and borders count: known once the window was shown, guessed before.
    const QRect frame = window->frameGeometry(), inner = window->geometry();
    QSize decoration(frame.width() - inner.width(), frame.height() - inner.height());
    if (!window->isVisible() && HasDisplay())
        decoration = decoration.expandedTo(QSize(2, 32));
    const QRect fitted =
        FittedRect(wanted + decoration, window->minimumSizeHint() + decoration, screen->availableGeometry());
    const QSize size = fitted.size() - decoration;
    if (fixed)
        window->setFixedSize(size);
    else
        window->resize(size);
    window->move(fitted.topLeft());
}

} // namespace vexory
