#pragma once

// URL-safe Base64 and SHA-1, as the service protocol and the update check use them.

#include <string>
#include <string_view>

namespace vexory {

// URL-safe Base64 without padding or line breaks, and its inverse.
std::string Base64UrlEncode(std::string_view bytes);
std::string Base64UrlDecode(std::string_view text);

// SHA-1 as 40 lowercase hexadecimal digits.
std::string Sha1Hex(std::string_view bytes);

} // namespace vexory
