#pragma once

// Bodies a hostile site sends, for the tests of what a read keeps to.

#include <cstddef>
#include <string>

namespace vexory::test {

// `size` zero bytes, gzip-compressed: a body that inflates a thousandfold.
std::string GzipBomb(size_t size);

// A page of `<meta charset=utf-8>` and `repeat` copies of `piece`.
std::string RepeatedPage(const std::string& piece, size_t repeat);

// A page of one element with `count` attributes.
std::string ManyAttributesPage(size_t count);

} // namespace vexory::test
