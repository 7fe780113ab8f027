#include "widgets/message_box.h"

#include "widgets/screen_fit.h"

#include <QGuiApplication>

#include <cstdio>

namespace vexory {

namespace {

MessageBox::Hook& hook()
{
    static MessageBox::Hook h;
    return h;
}

} // namespace

void MessageBox::SetHook(Hook h)
{
    hook() = std::move(h);
}

void MessageBox::Information(QWidget* parent, const QString& text)
{
    if (hook()) {
        hook()(text);
        return;
    }
    if (!HasDisplay()) {
        std::fprintf(stderr, "vexory: %s\n", text.toUtf8().constData());
        return;
    }
    QMessageBox::information(parent, QStringLiteral("Vexory"), text);
}

QMessageBox::StandardButton MessageBox::Question(QWidget* parent, const QString& text,
                                                 QMessageBox::StandardButtons buttons)
{
    if (hook())
        return hook()(text);
    if (!HasDisplay()) {
        std::fprintf(stderr, "vexory: %s (answered No)\n", text.toUtf8().constData());
        return QMessageBox::No;
    }
    return QMessageBox::question(parent, QStringLiteral("Vexory"), text, buttons);
}

} // namespace vexory
