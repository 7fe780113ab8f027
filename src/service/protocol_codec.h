#pragma once

// The encodings of the service protocol, shared by the client and vexory-server
// so that the two can never drift apart: request codes, the push body encoding
// and its inverse, the login record and its decoding, the push filler.

#include <cstdint>
#include <string>
#include <string_view>

namespace vexory {

// This client's version number.
inline constexpr int32_t kProtocolVersion = 6;

// The service's addresses, for the client and the server alike.
inline constexpr std::string_view kLoginScript = "/client/LogIn.php";
inline constexpr std::string_view kPushScript = "/client/SendInfo.php";
inline constexpr std::string_view kShareScript = "/client/Svn.php";
inline constexpr std::string_view kAdvertPage = "/advert.php";
inline constexpr std::string_view kHelpPage = "/Help.php";
inline constexpr std::string_view kRegisterPage = "/register";
// Where people bind the channels their results go to.
inline constexpr std::string_view kAccountPage = "/account";

// The request code that goes with a request number: 40 lowercase hex digits.
std::string RequestCode(uint32_t number);

// A fresh request number, 0 .. 2147483646.
uint32_t RequestNumber();

// The 64 symbols of a push body, and the fixed permutation applied to them.
inline constexpr std::string_view kPushAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
int PushPermutation(int index);
int InversePushPermutation(int index);

// Halves swapped recursively: texts of more than 4 symbols become
// HalfSwap(right half) + HalfSwap(left half). UnHalfSwap is its inverse.
std::string HalfSwap(std::string_view text);
std::string UnHalfSwap(std::string_view text);

// Base64Url, reversed, half-swapped, substituted. DecodePushBody gives the payload
// back, or "" when the body holds a symbol outside the alphabet.
std::string EncodePushBody(std::string_view payloadUtf8);
std::string DecodePushBody(std::string_view body);

// The payload filler: a payload (code page 936) of 99 bytes or less gets
// "\r\n" + sentinel + "=" + k random Chinese characters, k = (100 - length) div 2 + 1.
std::string AddPushFiller(std::string payloadGbk);
// The payload without its filler line, when it has one.
std::string_view StripPushFiller(std::string_view payload);

// The fields a login record carries.
struct LoginRecord
{
    int32_t userNumber = 0;
    bool userNumberValid = false;
    bool pluginRight = false;
    bool multiTaskRight = false;
    bool chainRight = false;
    bool fastRefreshRight = false;
};

// The decoded record (symbols "0"-"9", ".", ":", "A"), or "" when the text is
// shorter than 63 bytes or holds a byte outside its own code alphabet.
std::string DecodeLoginRecord(std::string_view text);
// The fields of a decoded record.
LoginRecord ReadLoginRecord(std::string_view decoded);
// A fresh encoded record for `record` (the service's side), 64 bytes.
std::string EncodeLoginRecord(const LoginRecord& record);

// The 8-digit push reply.
struct PushReply
{
    bool valid = false;             // exactly 8 decimal digits
    bool accepted = false;          // byte 1 is 1
    bool readOn = false;            // byte 2 is 1
    bool nicknameInvalid = false;   // byte 3 is 2
    bool loggedInElsewhere = false; // byte 4 is 2
    bool shutoff = false;           // byte 5 is 1
    bool taken = false;             // byte 5 is 2
    bool forwarded = false;         // byte 6 is 3 or byte 7 is 5
    bool pluginAllowed = false;     // byte 8 is 3
};
PushReply ReadPushReply(std::string_view reply);
std::string MakePushReply(bool nicknameValid, bool loginValid, bool shutoff, bool forwarded, bool pluginAllowed);

// A form body: key=value pairs joined by "&" (values already URL-safe).
std::string FormField(std::string_view key, std::string_view value);
// The value of `key` in a form body ("" when absent).
std::string FormValue(std::string_view body, std::string_view key);
bool HasFormValue(std::string_view body, std::string_view key);

} // namespace vexory
