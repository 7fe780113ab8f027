#pragma once

// TFrame1: the login panel. The user types the nickname and password; the panel
// checks them, keeps the nickname and the password's digest in the account, logs
// in and, on success, hands over to the task list.

#include "model/task_record.h"

#include <QWidget>

#include <functional>
#include <string>

class QLabel;
class QPushButton;

namespace vexory {

class THintEdit;

class TFrame1 : public QWidget
{
    Q_OBJECT
public:
    TFrame1(TAccountRecord& account, TProcessValues& values, QWidget* parent = nullptr);

    THintEdit* NameEdit() const { return m_name; }
    THintEdit* PasswordEdit() const { return m_password; }
    QPushButton* LoginButton() const { return m_login; }
    QPushButton* RegisterButton() const { return m_register; }

    // The password rule: digits and ASCII letters only, not empty.
    static bool PasswordFormat(const QString& text);

    void Login();

signals:
    void LoggedIn();          // EnterTaskList
    void NewVersion();        // the service has a newer client
    void RegisterRequested(); // show the registration picture

private:
    TAccountRecord& m_account;
    TProcessValues& m_values;
    THintEdit* m_name = nullptr;
    THintEdit* m_password = nullptr;
    QPushButton* m_login = nullptr;
    QPushButton* m_register = nullptr;
};

// The link to the service's help page (the service's address as its text), opened
// in the desktop's browser; the login panel and the task list show it.
QLabel* HelpLink(const std::string& server, QWidget* parent);

} // namespace vexory
