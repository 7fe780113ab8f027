#pragma once

// The editor's three test runs without the widgets: page source (kind 0), grab
// (kind 1) and grab with verification (kind 2), written as the lines of the
// test-result memo. Obtaining the page is left to the caller.

#include "formula/grab_formula.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace vexory {

struct TestInput
{
    int kind = 0;
    // The editor's fields as typed (code page 936).
    std::string name, guide, page, element, timeout;
    std::string grabBox;
    bool clearTags = false;
    std::string verify; // built from the condition rows
};

enum class TestEnd {
    Stopped,   // a field was missing or the page could not be had
    PageShown, // kind 0: the page source is listed
    Listed,    // kinds 1 and 2: the records are listed
};

struct TestCallbacks
{
    // Appends one text to the memo as a new line (a text with line breaks becomes several).
    std::function<void(std::string_view)> add;
    // Obtains the pseudo-code of the page; "" when it could not be had. Called once
    // the fields are known to be usable, with the timeout in ms.
    std::function<std::string(uint32_t timeoutMs)> pseudoCode;
    // Each repair of the grab formula, as the formula box's confirmation reports it.
    RepairReport repair;
};

TestEnd RunTest(const TestInput& input, const TestCallbacks& callbacks);

// "3\t: aa=x\t| ab=y".
std::string RecordLine(int number, const std::vector<std::string>& names, const std::vector<std::string>& values);

} // namespace vexory
