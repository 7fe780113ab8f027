#pragma once

// Text as the service's pages and calls handle it: form values and UTF-8 cut
// without splitting a character.

#include <cstddef>
#include <string>

namespace vexory::server {

// One value of an application/x-www-form-urlencoded text (a body or a query),
// decoded; "" when absent.
std::string FormField(const std::string& form, const std::string& key);
// The first `limit` bytes of UTF-8 text, not cutting a character.
std::string Utf8Prefix(const std::string& text, size_t limit);

} // namespace vexory::server
