#pragma once

// Text as the service's pages and calls handle it: form values and UTF-8 cut
// without splitting a character.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace vexory::server {

// One value of an application/x-www-form-urlencoded text (a body or a query),
// decoded; "" when absent.
std::string FormField(const std::string& form, const std::string& key);
// The first `limit` bytes of UTF-8 text, not cutting a character.
std::string Utf8Prefix(const std::string& text, size_t limit);

bool ValidUtf8(std::string_view text);
// Text a client sent, as the database keeps it: UTF-8 as it is, GBK (what older
// clients send) converted; nothing when it is neither, so that both engines give
// the same answer to bytes no text is made of.
std::optional<std::string> ClientText(const std::string& bytes);

} // namespace vexory::server
