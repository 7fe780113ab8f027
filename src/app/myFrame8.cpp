#include "app/myFrame8.h"

#include "app/autostart.h"
#include "app/run_tray.h"
#include "app/ui_texts.h"
#include "platform/program_folder.h"
#include "widgets/message_box.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QVBoxLayout>

namespace vexory {

TFrame8::TFrame8(TAccountRecord& account, QWidget* parent) : QWidget(parent), m_account(account)
{
    setFixedSize(337, 298);
    auto* layout = new QVBoxLayout(this);
    auto* login = new QGroupBox(texts::kLoginSettingsGroup, this);
    auto* loginLayout = new QHBoxLayout(login);
    m_loggedIn = new QRadioButton(texts::kLoggedIn, login);
    m_relogin = new QRadioButton(texts::kRelogin, login);
    loginLayout->addWidget(m_loggedIn);
    loginLayout->addWidget(m_relogin);
    layout->addWidget(login);

    auto* end = new QGroupBox(texts::kAutoEndGroup, this);
    auto* grid = new QGridLayout(end);
    m_off = new QRadioButton(texts::kAutoEndOff, end);
    m_hours = new QRadioButton(end);
    m_clock = new QRadioButton(end);
    auto* endGroup = new QButtonGroup(this);
    for (QRadioButton* b : {m_off, m_hours, m_clock})
        endGroup->addButton(b);
    m_hoursSlider = new QSlider(Qt::Horizontal, end);
    m_hoursSlider->setRange(1, 200);
    m_hoursSlider->setValue(200);
    m_clockSlider = new QSlider(Qt::Horizontal, end);
    m_clockSlider->setRange(1, 24);
    m_clockSlider->setValue(24);
    m_hoursLabel = new QLabel(texts::kHoursStart, end);
    m_clockLabel = new QLabel(texts::kClockStart, end);
    grid->addWidget(m_off, 0, 0, 1, 3);
    grid->addWidget(m_hours, 1, 0);
    grid->addWidget(m_hoursSlider, 1, 1);
    grid->addWidget(m_hoursLabel, 1, 2);
    grid->addWidget(m_clock, 2, 0);
    grid->addWidget(m_clockSlider, 2, 1);
    grid->addWidget(m_clockLabel, 2, 2);
    m_off->setChecked(true);
    layout->addWidget(end);

    m_afterEnd = new QCheckBox(texts::kShutdownAfterEnd, this);
    m_autostart = new QCheckBox(texts::kRunAtLogin, this);
    m_afterRemote = new QCheckBox(texts::kShutdownAfterRemote, this);
    auto* boxes = new QGridLayout;
    boxes->addWidget(m_afterEnd, 0, 0);
    boxes->addWidget(m_autostart, 0, 1);
    boxes->addWidget(m_afterRemote, 1, 0);
    m_tray = new QCheckBox(texts::kRunInTray, this);
    boxes->addWidget(m_tray, 1, 1);
    layout->addLayout(boxes);
    m_ok = new QPushButton(texts::kOk, this);
    layout->addWidget(m_ok, 0, Qt::AlignRight);

    connect(m_hoursSlider, &QSlider::valueChanged, this, [this](int v) {
        m_hoursLabel->setText(texts::kHoursLater.arg(v));
        m_hours->setChecked(true);
    });
    connect(m_clockSlider, &QSlider::valueChanged, this, [this](int v) {
        m_clockLabel->setText(texts::kOClock.arg(v));
        m_clock->setChecked(true);
    });
    connect(m_off, &QRadioButton::toggled, this, [this](bool on) { m_afterEnd->setEnabled(!on); });
    connect(m_ok, &QPushButton::clicked, this, &TFrame8::Apply);
    Load();
}

void TFrame8::Load()
{
    m_loggedIn->setAutoExclusive(false);
    m_relogin->setAutoExclusive(false);
    m_loggedIn->setChecked(false);
    m_relogin->setChecked(false);
    m_loggedIn->setAutoExclusive(true);
    m_relogin->setAutoExclusive(true);
    m_loggedIn->setEnabled(m_account.LoggedIn);
    if (m_account.LoggedIn)
        m_loggedIn->setChecked(true);
    m_autostart->setChecked(AutostartEnabled());
    m_tray->setChecked(RunTray::Chosen());
    m_tray->setToolTip(RunTray::Available() ? QString() : texts::kNoTray);
    m_afterEnd->setChecked(m_account.ShutdownFlags & ShutdownAfterAutoEnd);
    m_afterRemote->setChecked(m_account.ShutdownFlags & ShutdownAfterRemoteEnd);
    const int autoEnd = m_account.AutoEnd;
    if (autoEnd >= 26) {
        m_hoursSlider->setValue(std::min(autoEnd - 25, 200));
        m_hours->setChecked(true);
    } else if (autoEnd >= 2) {
        m_clockSlider->setValue(autoEnd - 1);
        m_clock->setChecked(true);
    } else {
        m_off->setChecked(true);
    }
    m_afterEnd->setEnabled(!m_off->isChecked());
}

bool TFrame8::ReloginChosen() const
{
    return m_relogin->isChecked();
}

void TFrame8::Apply()
{
    if (m_off->isChecked())
        m_account.AutoEnd = 0;
    else if (m_hours->isChecked())
        m_account.AutoEnd = static_cast<uint8_t>(m_hoursSlider->value() + 25);
    else
        m_account.AutoEnd = static_cast<uint8_t>(m_clockSlider->value() + 1);
    m_account.ShutdownFlags = static_cast<uint8_t>((m_afterEnd->isChecked() ? ShutdownAfterAutoEnd : 0) |
                                                   (m_afterRemote->isChecked() ? ShutdownAfterRemoteEnd : 0));
    if (m_tray->isChecked() != RunTray::Chosen() && !RunTray::Choose(m_tray->isChecked()))
        MessageBox::Information(this, texts::kTrayNotKept);
    // A ticked box writes the entry each time: one left by an older version or
    // another program folder is put right.
    std::string error;
    if (m_autostart->isChecked()) {
        if (!CreateAutostartEntry(AutostartEntryPath(), ExecutablePath(), ProgramFolder(), &error))
            MessageBox::Information(this, QString::fromStdString(error));
    } else if (AutostartEnabled()) {
        RemoveAutostartEntry(AutostartEntryPath());
    }
    emit Accepted();
}

} // namespace vexory
