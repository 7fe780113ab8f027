#include "app/run_tray.h"

#include "app/autostart.h"
#include "app/ui_texts.h"

#include <QApplication>
#include <QIcon>
#include <QMenu>
#include <QSettings>
#include <QStyle>
#include <QSystemTrayIcon>

namespace vexory {

namespace {

QString settingsPath()
{
    return QString::fromStdString(ConfigFolder()) + QStringLiteral("/vexory/desktop.conf");
}

const QString kTrayKey = QStringLiteral("desktop/tray");

} // namespace

RunTray::RunTray(QObject* parent) : QObject(parent)
{
    m_menu = new QMenu;
    m_show = m_menu->addAction(texts::kTrayShow);
    m_endRun = m_menu->addAction(texts::kTrayEndRun);
    m_menu->addSeparator();
    m_quit = m_menu->addAction(texts::kTrayQuit);
    connect(m_show, &QAction::triggered, this, &RunTray::ShowWindow);
    connect(m_endRun, &QAction::triggered, this, &RunTray::EndRun);
    connect(m_quit, &QAction::triggered, this, &RunTray::Quit);
}

RunTray::~RunTray()
{
    delete m_icon;
    delete m_menu; // a menu has no parent object
}

bool RunTray::Chosen()
{
    return QSettings(settingsPath(), QSettings::IniFormat).value(kTrayKey, false).toBool();
}

bool RunTray::Choose(bool on)
{
    QSettings settings(settingsPath(), QSettings::IniFormat);
    settings.setValue(kTrayKey, on);
    settings.sync();
    return settings.status() == QSettings::NoError;
}

bool RunTray::Available()
{
    return QSystemTrayIcon::isSystemTrayAvailable();
}

void RunTray::SetRunning(bool running)
{
    if (!running || !Chosen() || !Available()) {
        if (m_icon)
            m_icon->hide();
        return;
    }
    if (!m_icon) {
        // The program's icon where it is installed, else one of the style's: a tray
        // entry without an icon would show nothing to click.
        QIcon icon = QIcon::fromTheme(QStringLiteral("net.vexory.Vexory"));
        if (icon.isNull())
            icon = QApplication::style()->standardIcon(QStyle::SP_ComputerIcon);
        m_icon = new QSystemTrayIcon(icon);
        m_icon->setToolTip(texts::kTrayTip);
        m_icon->setContextMenu(m_menu);
        connect(m_icon, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
            if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick)
                emit ShowWindow();
        });
    }
    m_said = false;
    m_icon->show();
}

QIcon RunTray::Icon() const
{
    return m_icon ? m_icon->icon() : QIcon();
}

bool RunTray::Holds() const
{
    return m_icon && m_icon->isVisible();
}

void RunTray::SayHidden()
{
    if (m_said || !Holds())
        return;
    m_said = true;
    m_icon->showMessage(texts::kTrayTip, texts::kTrayHidden, QSystemTrayIcon::Information, 5000);
}

} // namespace vexory
