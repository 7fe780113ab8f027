#pragma once

// The channels a result is forwarded on: a JSON webhook, the messenger bots and
// push services people use, and e-mail. Each kind knows its settings, how its
// published API wants a message, how large a message may be, how often it may be
// called, and how it says that it took one.

#include "outbound.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace vexory::server {

struct ChannelField
{
    const char* key;
    const char* label;
    const char* hint;
    bool secret; // never shown back whole
    bool required;
};

// What of a message a channel holds to its limit, as its API counts it.
enum class Counted
{
    Text,           // the text field, bytes of UTF-8
    TitleAndText,   // one field with the title, a line end and the text, bytes of UTF-8
    TitleAndText16, // the same in UTF-16 code units (what "characters" means there)
    Body,           // the whole request body as sent, escaping and all
    MarkdownText,   // the text with every line end doubled (Markdown), bytes of UTF-8
};

struct ChannelType
{
    const char* id; // stored with the channel
    const char* title;
    const char* help;
    std::vector<ChannelField> fields;
    size_t limit; // of one message, as `counted` says, kept a little inside the published one
    Counted counted;
    double perMinute;    // messages a minute the service accepts
    bool merges;         // results close together go out as one message
    const char* apiBase; // "" when the user names the server
};

const std::vector<ChannelType>& ChannelTypes();
const ChannelType* FindChannelType(const std::string& id);

using ChannelConfig = std::map<std::string, std::string>;
std::string ConfigToJson(const ChannelConfig& config);
ChannelConfig ConfigFromJson(const std::string& json);

// Trims and checks what the user typed, taking a key out of a pasted robot
// address where the service hands out addresses; "" when usable, otherwise why
// not (Chinese, for the account page).
std::string CheckChannelConfig(const ChannelType& type, ChannelConfig& config);
// The host of the address the channel will call ("" when it calls a fixed API or sends mail).
std::string ChannelHost(const ChannelType& type, const ChannelConfig& config);
// One line of the settings for showing back, secrets masked.
std::string DescribeChannel(const ChannelType& type, const ChannelConfig& config);
std::string MaskSecret(const std::string& secret);

// One stored result as a message needs it.
struct ResultText
{
    int64_t id = 0;
    std::string nick, task, url, records; // UTF-8, records separated by empty lines
};

struct ChannelMessage
{
    std::string title, text;
};

// Records in a result: blocks of lines separated by empty lines.
int CountRecords(const std::string& records);
// One message for one or more results: task names, record counts, page
// addresses and records, the text cut to `limit` bytes with a note saying how many
// records were left out. One result's name and count are in the title only.
ChannelMessage ComposeMessage(const std::vector<ResultText>& results, size_t limit, const std::string& inboxUrl = {});
// The message as the channel takes it: cut so that what the channel counts, as
// it will be sent, stays within its limit.
ChannelMessage ChannelMessageFor(const ChannelType& type, const std::vector<ResultText>& results,
                                 const std::string& inboxUrl = {});
// What the channel counts of a message against its limit.
size_t CountedSize(const ChannelType& type, const ChannelMessage& message, const std::vector<ResultText>& results);

// The HTTP request that hands the message to the channel's API. `apiBase`
// replaces the published API's address (tests, a proxy); `nowMs` signs.
OutboundRequest BuildChannelRequest(const ChannelType& type, const ChannelConfig& config, const ChannelMessage& message,
                                    const std::vector<ResultText>& results, const std::string& apiBase, int64_t nowMs);
// Whether the API took the message; otherwise *error says why.
bool ChannelAccepted(const ChannelType& type, const OutboundAnswer& answer, std::string* error);

// Signatures the robots check (exposed for tests).
std::string DingTalkSign(const std::string& secret, int64_t timestampMs);
std::string FeishuSign(const std::string& secret, int64_t timestampSeconds);
std::string UrlEncode(const std::string& text);

} // namespace vexory::server
