#include "service/protocol_codec.h"

#include "base/encoding.h"
#include "base/text_helpers.h"
#include "formula/markers.h"
#include "platform/codepage.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <random>

namespace vexory {

namespace {

constexpr std::string_view kRecordSymbols = "0123456789.:A";
// Where a login record keeps its code alphabet, its user number and its rights (1-based).
constexpr int kAlphabetAt[13] = {18, 23, 13, 3, 7, 11, 45, 60, 37, 22, 54, 57, 20};
constexpr int kUserNumberAt[10] = {9, 15, 24, 6, 61, 58, 43, 27, 19, 4};
constexpr int kPluginAt = 8, kMultiTaskAt = 32, kChainAt = 49, kFastRefreshAt = 55;
constexpr size_t kRecordMinimum = 63;

std::mt19937& generator()
{
    // Seeded from the clock (and the system's entropy) for each thread.
    thread_local std::mt19937 g(static_cast<uint32_t>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
                                std::random_device{}());
    return g;
}

struct Permutation
{
    std::array<int, 64> forward{}, inverse{};
    Permutation()
    {
        // j -> 37 j + 11 (mod 64): odd factor, so every index is hit once.
        for (int j = 0; j < 64; ++j) {
            forward[static_cast<size_t>(j)] = (j * 37 + 11) % 64;
            inverse[static_cast<size_t>(forward[static_cast<size_t>(j)])] = j;
        }
    }
};
const Permutation kPermutation;

int symbolIndex(char c)
{
    const size_t k = kPushAlphabet.find(c);
    return k == std::string_view::npos ? -1 : static_cast<int>(k);
}

} // namespace

std::string RequestCode(uint32_t number)
{
    return Sha1Hex("vexory request " + std::to_string(number));
}

uint32_t RequestNumber()
{
    return std::uniform_int_distribution<uint32_t>(0, 2147483646u)(generator());
}

int PushPermutation(int index)
{
    return kPermutation.forward[static_cast<size_t>(index & 63)];
}

int InversePushPermutation(int index)
{
    return kPermutation.inverse[static_cast<size_t>(index & 63)];
}

std::string HalfSwap(std::string_view text)
{
    if (text.size() <= 4)
        return std::string(text);
    const size_t half = text.size() / 2;
    return HalfSwap(text.substr(half)) + HalfSwap(text.substr(0, half));
}

std::string UnHalfSwap(std::string_view text)
{
    if (text.size() <= 4)
        return std::string(text);
    // The first (n - n div 2) symbols are the swapped right half.
    const size_t rightLength = text.size() - text.size() / 2;
    return UnHalfSwap(text.substr(rightLength)) + UnHalfSwap(text.substr(0, rightLength));
}

std::string EncodePushBody(std::string_view payloadUtf8)
{
    std::string text = Base64UrlEncode(payloadUtf8);
    std::reverse(text.begin(), text.end());
    text = HalfSwap(text);
    for (char& c : text)
        c = kPushAlphabet[static_cast<size_t>(PushPermutation(symbolIndex(c)))];
    return text;
}

std::string DecodePushBody(std::string_view body)
{
    std::string text(body);
    for (char& c : text) {
        const int k = symbolIndex(c);
        if (k < 0)
            return {};
        c = kPushAlphabet[static_cast<size_t>(InversePushPermutation(k))];
    }
    text = UnHalfSwap(text);
    std::reverse(text.begin(), text.end());
    return Base64UrlDecode(text);
}

std::string AddPushFiller(std::string payloadGbk)
{
    if (payloadGbk.size() > 99)
        return payloadGbk;
    const size_t count = (100 - payloadGbk.size()) / 2 + 1;
    std::u16string chinese;
    std::uniform_int_distribution<int> pick(0, 9999);
    for (size_t i = 0; i < count; ++i)
        chinese.push_back(static_cast<char16_t>(0x4E20 + pick(generator())));
    payloadGbk += "\r\n";
    payloadGbk += MarkedSentinel;
    payloadGbk += '=';
    payloadGbk += Utf16ToGbk(chinese);
    return payloadGbk;
}

std::string_view StripPushFiller(std::string_view payload)
{
    const std::string marker = "\r\n" + std::string(MarkedSentinel) + "=";
    const size_t at = payload.rfind(marker);
    if (at == std::string_view::npos || payload.find("\r\n", at + marker.size()) != std::string_view::npos)
        return payload;
    return payload.substr(0, at);
}

std::string DecodeLoginRecord(std::string_view text)
{
    if (text.size() < kRecordMinimum)
        return {};
    char alphabet[13];
    for (int i = 0; i < 13; ++i)
        alphabet[i] = text[static_cast<size_t>(kAlphabetAt[i] - 1)];
    std::string decoded(text.size(), '\0');
    for (size_t p = 0; p < text.size(); ++p) {
        int k = 0;
        while (k < 13 && alphabet[k] != text[p])
            ++k;
        if (k == 13)
            return {};
        decoded[p] = kRecordSymbols[static_cast<size_t>(k)];
    }
    return decoded;
}

LoginRecord ReadLoginRecord(std::string_view decoded)
{
    LoginRecord r;
    if (decoded.size() < kRecordMinimum)
        return r;
    std::string digits;
    for (int p : kUserNumberAt)
        digits += decoded[static_cast<size_t>(p - 1)];
    if (IsInteger(digits)) {
        r.userNumberValid = true;
        r.userNumber = StrToInt(digits);
    }
    auto right = [&](int p) {
        const char c = decoded[static_cast<size_t>(p - 1)];
        return c >= '1' && c <= '9';
    };
    r.pluginRight = right(kPluginAt);
    r.multiTaskRight = right(kMultiTaskAt);
    r.chainRight = right(kChainAt);
    r.fastRefreshRight = right(kFastRefreshAt);
    return r;
}

std::string EncodeLoginRecord(const LoginRecord& record)
{
    auto& g = generator();
    // A fresh code alphabet: 13 distinct letters.
    std::string letters = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
    std::shuffle(letters.begin(), letters.end(), g);
    const std::string_view alphabet = std::string_view(letters).substr(0, 13);

    std::string decoded(64, '\0');
    std::uniform_int_distribution<size_t> anySymbol(0, kRecordSymbols.size() - 1);
    for (char& c : decoded)
        c = kRecordSymbols[anySymbol(g)];
    for (int i = 0; i < 13; ++i)
        decoded[static_cast<size_t>(kAlphabetAt[i] - 1)] = kRecordSymbols[static_cast<size_t>(i)];
    char digits[16];
    std::snprintf(digits, sizeof digits, "%010u", static_cast<unsigned>(record.userNumber));
    for (int i = 0; i < 10; ++i)
        decoded[static_cast<size_t>(kUserNumberAt[i] - 1)] = digits[i];
    decoded[kPluginAt - 1] = record.pluginRight ? '1' : '0';
    decoded[kMultiTaskAt - 1] = record.multiTaskRight ? '1' : '0';
    decoded[kChainAt - 1] = record.chainRight ? '1' : '0';
    decoded[kFastRefreshAt - 1] = record.fastRefreshRight ? '1' : '0';

    std::string encoded(decoded.size(), '\0');
    for (size_t p = 0; p < decoded.size(); ++p)
        encoded[p] = alphabet[kRecordSymbols.find(decoded[p])];
    return encoded;
}

PushReply ReadPushReply(std::string_view reply)
{
    PushReply r;
    if (reply.size() != 8)
        return r;
    for (char c : reply)
        if (c < '0' || c > '9')
            return r;
    r.valid = true;
    r.accepted = reply[0] == '1';
    r.readOn = r.accepted && reply[1] == '1';
    if (!r.readOn)
        return r;
    r.nicknameInvalid = reply[2] == '2';
    r.loggedInElsewhere = reply[3] == '2';
    r.shutoff = reply[4] == '1';
    r.taken = reply[4] == '2';
    r.forwarded = reply[5] == '3' || reply[6] == '5';
    r.pluginAllowed = reply[7] == '3';
    return r;
}

std::string MakePushReply(bool nicknameValid, bool loginValid, bool shutoff, bool forwarded, bool pluginAllowed)
{
    std::string r = "11";
    r += nicknameValid ? '1' : '2';
    r += loginValid ? '1' : '2';
    r += shutoff ? '1' : '2';
    r += forwarded ? "35" : "00";
    r += pluginAllowed ? '3' : '0';
    return r;
}

std::string FormField(std::string_view key, std::string_view value)
{
    std::string out(key);
    out += '=';
    out += value;
    return out;
}

std::string FormValue(std::string_view body, std::string_view key)
{
    size_t start = 0;
    for (;;) {
        const size_t amp = body.find('&', start);
        const std::string_view pair =
            body.substr(start, amp == std::string_view::npos ? std::string_view::npos : amp - start);
        if (pair.size() > key.size() && pair.substr(0, key.size()) == key && pair[key.size()] == '=')
            return std::string(pair.substr(key.size() + 1));
        if (amp == std::string_view::npos)
            return {};
        start = amp + 1;
    }
}

bool HasFormValue(std::string_view body, std::string_view key)
{
    const std::string prefix = std::string(key) + "=";
    return body.substr(0, prefix.size()) == prefix || body.find("&" + prefix) != std::string_view::npos;
}

} // namespace vexory
