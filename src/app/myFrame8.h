#pragma once

// TFrame8: the options panel: the automatic end of a run, the two shutdown choices,
// starting with the desktop session, keeping a run in the tray, and the login
// choice "重新登录".

#include "model/task_record.h"

#include <QWidget>

class QCheckBox;
class QLabel;
class QPushButton;
class QRadioButton;
class QSlider;

namespace vexory {

class TFrame8 : public QWidget
{
    Q_OBJECT
public:
    explicit TFrame8(TAccountRecord& account, QWidget* parent = nullptr);

    // Sets the controls from the account and the autostart entry (every opening).
    void Load();
    // "确定": stores the choices and creates or removes the autostart entry.
    void Apply();
    bool ReloginChosen() const;

    QRadioButton* LoggedInChoice() const { return m_loggedIn; }
    QRadioButton* ReloginChoice() const { return m_relogin; }
    QRadioButton* OffChoice() const { return m_off; }
    QRadioButton* HoursChoice() const { return m_hours; }
    QRadioButton* ClockChoice() const { return m_clock; }
    QSlider* HoursSlider() const { return m_hoursSlider; }
    QSlider* ClockSlider() const { return m_clockSlider; }
    QLabel* HoursLabel() const { return m_hoursLabel; }
    QLabel* ClockLabel() const { return m_clockLabel; }
    QCheckBox* ShutdownAfterEnd() const { return m_afterEnd; }
    QCheckBox* Autostart() const { return m_autostart; }
    QCheckBox* ShutdownAfterRemote() const { return m_afterRemote; }
    QCheckBox* RunInTray() const { return m_tray; }
    QPushButton* OkButton() const { return m_ok; }

signals:
    void Accepted();

private:
    TAccountRecord& m_account;
    QRadioButton* m_loggedIn;
    QRadioButton* m_relogin;
    QRadioButton* m_off;
    QRadioButton* m_hours;
    QRadioButton* m_clock;
    QSlider* m_hoursSlider;
    QSlider* m_clockSlider;
    QLabel* m_hoursLabel;
    QLabel* m_clockLabel;
    QCheckBox* m_afterEnd;
    QCheckBox* m_autostart;
    QCheckBox* m_afterRemote;
    QCheckBox* m_tray;
    QPushButton* m_ok;
};

} // namespace vexory
