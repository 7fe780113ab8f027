#pragma once

// The account pages people use in a browser, often a phone's: plain HTML in
// Chinese, every form with its CSRF token, no script needed.

#include "channels.h"
#include "server_db.h"

#include <string>
#include <vector>

namespace vexory::server::pages {

std::string EscapeHtml(const std::string& s);

// A whole page around BODY.
std::string Page(const std::string& title, const std::string& body);

std::string LoginForm(const std::string& csrf, const std::string& nick, const std::string& message);
std::string RegisterForm(const std::string& csrf, const std::string& message);
// The page a confirmation mail's link opens: one button that confirms.
std::string ConfirmForm(const std::string& token);

struct AccountView
{
    User user;
    std::string csrf;
    std::string message; // shown on top ("" for none)
    bool messageIsError = false;
    std::vector<Channel> channels;
    std::vector<StoredResult> results; // the newest few
    std::vector<Delivery> deliveries;  // of those results
    int64_t resultCount = 0;
    bool mailEnabled = false;
};
std::string Account(const AccountView& view);

std::string AddChannelForm(const ChannelType& type, const std::string& csrf, const ChannelConfig& typed,
                           const std::string& message);

// The password rule of the program's login panel: digits and ASCII letters only.
bool PasswordAccepted(const std::string& password);

} // namespace vexory::server::pages
