#include "app/myFrame1.h"

#include "app/ui_texts.h"
#include "base/encoding.h"
#include "service/service_client.h"
#include "widgets/hint_edit.h"
#include "widgets/message_box.h"
#include "widgets/qt_text.h"

#include <QDesktopServices>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>

namespace vexory {

TFrame1::TFrame1(TAccountRecord& account, TProcessValues& values, QWidget* parent)
    : QWidget(parent), m_account(account), m_values(values)
{
    setFixedSize(256, 253);
    auto* outer = new QVBoxLayout(this);
    auto* group = new QGroupBox(texts::kLoginGroup, this);
    auto* grid = new QGridLayout(group);
    grid->addWidget(new QLabel(texts::kNicknameCaption, group), 0, 0);
    m_name = new THintEdit(group);
    m_name->SetHintText(texts::kNicknameHint);
    m_name->setToolTip(texts::kNicknameTip);
    grid->addWidget(m_name, 0, 1);
    grid->addWidget(new QLabel(texts::kPasswordCaption, group), 1, 0);
    m_password = new THintEdit(group);
    m_password->SetHintText(texts::kPasswordHint);
    m_password->setToolTip(texts::kPasswordHint);
    m_password->SetPasswordChar(QLatin1Char('x'));
    m_password->SetFormatQuery(&TFrame1::PasswordFormat);
    grid->addWidget(m_password, 1, 1);
    m_login = new QPushButton(texts::kLoginButton, group);
    m_register = new QPushButton(texts::kRegisterButton, group);
    grid->addWidget(m_login, 2, 1);
    grid->addWidget(m_register, 3, 1);
    outer->addWidget(group);
    auto* version = new QLabel(texts::kVersionLabel, this);
    version->setEnabled(false);
    outer->addWidget(version);
    outer->addWidget(HelpLink(values.Server, this));

    if (!account.Nickname.empty())
        m_name->SetText(FromGbk(account.Nickname));
    connect(m_name, &QLineEdit::returnPressed, this, [this] { m_password->setFocus(); });
    connect(m_password, &QLineEdit::returnPressed, this, &TFrame1::Login);
    connect(m_login, &QPushButton::clicked, this, &TFrame1::Login);
    connect(m_register, &QPushButton::clicked, this, &TFrame1::RegisterRequested);
}

bool TFrame1::PasswordFormat(const QString& text)
{
    if (text.isEmpty())
        return false;
    for (QChar c : text) {
        const char16_t u = c.unicode();
        if (!((u >= '0' && u <= '9') || (u >= 'A' && u <= 'Z') || (u >= 'a' && u <= 'z')))
            return false;
    }
    return true;
}

void TFrame1::Login()
{
    // The fields hold what was typed, even while one of them has the focus.
    const QString name = m_name->hasFocus() ? m_name->text() : m_name->Text();
    if (name.trimmed().isEmpty()) {
        MessageBox::Information(this, texts::kNicknameEmpty);
        return;
    }
    m_account.Nickname = ToGbk(name);
    const QString password = m_password->hasFocus() ? m_password->text() : m_password->Text();
    if (password.trimmed().isEmpty()) {
        MessageBox::Information(this, texts::kPasswordEmpty);
        return;
    }
    if (!PasswordFormat(password)) {
        MessageBox::Information(this, texts::kPasswordCharacters);
        return;
    }
    m_account.PasswordDigest = Sha1Hex(ToGbk(password));
    int32_t version = kClientVersion;
    switch (vexory::Login(m_account, m_values.Server, false, version)) {
    case LoginNoAnswer:
        MessageBox::Information(this, texts::kLoginNoAnswer);
        return;
    case LoginNotRegistered:
        m_account.Nickname.clear();
        m_account.PasswordDigest.clear();
        MessageBox::Information(this, texts::kLoginNotRegistered);
        return;
    case LoginWrongPassword:
        MessageBox::Information(this, texts::kLoginWrongPassword);
        return;
    case LoginServerError:
        MessageBox::Information(this, texts::kLoginServerError);
        return;
    default:
        break;
    }
    if (version > kClientVersion)
        emit NewVersion();
    ApplyRightsToTasks(m_account);
    emit LoggedIn();
}

QLabel* HelpLink(const std::string& server, QWidget* parent)
{
    const QString site = QStringLiteral("http://") + FromGbk(server);
    auto* link =
        new QLabel(QStringLiteral("<a href=\"%1%2\">%1</a>").arg(site, QString::fromLatin1(kHelpPage)), parent);
    link->setCursor(Qt::PointingHandCursor);
    QObject::connect(link, &QLabel::linkActivated, link,
                     [](const QString& url) { QDesktopServices::openUrl(QUrl(url)); });
    return link;
}

} // namespace vexory
