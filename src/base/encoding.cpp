#include "base/encoding.h"

#include <openssl/evp.h>

namespace vexory {

namespace {

constexpr char kBase64Alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

} // namespace

std::string Base64UrlEncode(std::string_view bytes)
{
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    size_t i = 0;
    auto at = [&](size_t k) { return static_cast<uint32_t>(static_cast<unsigned char>(bytes[k])); };
    for (; i + 3 <= bytes.size(); i += 3) {
        uint32_t v = (at(i) << 16) | (at(i + 1) << 8) | at(i + 2);
        for (int shift = 18; shift >= 0; shift -= 6)
            out.push_back(kBase64Alphabet[(v >> shift) & 63]);
    }
    if (size_t rest = bytes.size() - i; rest > 0) {
        uint32_t v = at(i) << 16;
        if (rest == 2)
            v |= at(i + 1) << 8;
        out.push_back(kBase64Alphabet[(v >> 18) & 63]);
        out.push_back(kBase64Alphabet[(v >> 12) & 63]);
        if (rest == 2)
            out.push_back(kBase64Alphabet[(v >> 6) & 63]);
    }
    for (char& c : out) {
        if (c == '+')
            c = '-';
        else if (c == '/')
            c = '_';
    }
    return out;
}

// Accepts both alphabets, with or without padding ("." counts as "="); bytes outside
// the alphabet are skipped and decoding stops at the first padding character.
std::string Base64UrlDecode(std::string_view text)
{
    std::string out;
    out.reserve(text.size() / 4 * 3 + 3);
    uint32_t acc = 0;
    int bits = 0;
    for (char c : text) {
        int v;
        if (c >= 'A' && c <= 'Z')
            v = c - 'A';
        else if (c >= 'a' && c <= 'z')
            v = c - 'a' + 26;
        else if (c >= '0' && c <= '9')
            v = c - '0' + 52;
        else if (c == '+' || c == '-')
            v = 62;
        else if (c == '/' || c == '_')
            v = 63;
        else if (c == '=' || c == '.')
            break;
        else
            continue;
        acc = (acc << 6) | static_cast<uint32_t>(v);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out.push_back(static_cast<char>((acc >> bits) & 0xFF));
        }
    }
    return out;
}

std::string Sha1Hex(std::string_view bytes)
{
    // Fetched once: a digest named at each call is looked up again every time, and
    // the monitor hashes every record of every cycle.
    static EVP_MD* const sha1 = EVP_MD_fetch(nullptr, "SHA1", nullptr);
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (!sha1 || EVP_Digest(bytes.data(), bytes.size(), digest, &length, sha1, nullptr) != 1)
        return {};
    static constexpr char hex[] = "0123456789abcdef";
    std::string out;
    out.reserve(length * 2);
    for (unsigned int i = 0; i < length; ++i) {
        out.push_back(hex[digest[i] >> 4]);
        out.push_back(hex[digest[i] & 15]);
    }
    return out;
}

} // namespace vexory
