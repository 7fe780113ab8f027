#pragma once

// The task editor's decisions without its widgets: the field-name sequence that
// marker buttons and the page marking share, the number fields of a save, the
// cleaned grab formula, and which field differs from the stored task.

#include "model/task_record.h"

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vexory {

// One sequence for the whole program: "aa", "ab", ... "az", "ba", ... "zz", then
// "aa" again. Reset makes the next name "aa".
std::string NextFieldName();
// The name handed out last ("" right after a reset).
std::string CurrentFieldName();
void ResetFieldNames();

// The most characters a field name derived from a page or typed in keeps.
inline constexpr size_t kFieldNameChars = 12;
// Names for the fields marked on a page, in their order, from what each should be
// called (its column's header text, or what the user typed; code page 936): kept to
// what a field marker's name may hold (letters, digits, two-byte characters) and
// to kFieldNameChars characters; "字段" and the field's number when nothing is
// left; a number appended to a name given before ("价格2").
std::vector<std::string> FieldNames(const std::vector<std::string>& wanted);
// `text` with each field marker "{>from<}" of the pairs as "{>to<}", in one pass.
std::string RenameFieldMarkers(std::string_view text, const std::vector<std::pair<std::string, std::string>>& names);

// A seconds field as stored milliseconds: blanks and control bytes removed, then a
// number; its magnitude rounded to the nearest integer (halves to even) times 1000.
// Values beyond what the record holds are capped. Empty when not a number.
std::optional<uint32_t> SecondsToMs(std::string_view text);
// The seconds field as a test run's page time-out: the magnitude x 1000 to the
// nearest millisecond, so that 2.5 s waits 2500 ms and 0.4 s is no "no limit".
std::optional<uint32_t> TestTimeoutMs(std::string_view text);
// An hours field as milliseconds: magnitude x 3 600 000, rounded; capped likewise.
std::optional<uint32_t> HoursToMs(std::string_view text);
// Milliseconds as hours in the shortest general form ("0", "1", "1.5").
std::string HoursText(uint32_t ms);

struct NumberFields
{
    std::string timeout, refresh, notify; // as typed, seconds / seconds / hours
};

// A new task's time-out, and what a time-out that is no number or 0 becomes.
inline constexpr uint32_t kNewTaskTimeoutMs = 10000;

// Stores the three number fields into `task`, each repaired when it is not a number
// (10 s, 150 s, 1 hour) and a time-out of 0 too; a refresh below 150 s becomes 150 s
// when `limitRefresh`.
// Returns the repair report, one line per repair, timeout, refresh, notify.
std::vector<std::string> StoreNumberFields(const NumberFields& fields, TTaskRecord& task, bool limitRefresh);

// What a save stores for a grab formula box: cleaned formula + chain markers + notes.
// Each repair goes to `report` when it is set.
std::string SavedGrabFormula(std::string_view boxText, const std::function<void(std::string_view)>& report = nullptr);

// The editor's fields, as texts in code page 936 (line breaks CR LF).
struct EditorFields
{
    std::string name, guide, page, element, timeout, refresh;
    bool clearTags = false, pushToPlugin = false, compareLastScreen = false;
    std::string grabBox; // the formula box as typed
    std::string verify;  // the formula the condition rows make
    bool keepTestResult = false;
    std::string memo;
};

// The first field that differs from `task`, in the order the editor asks; None when
// nothing does. The name counts only for a task already in the array.
enum class UnsavedField
{
    None,
    Name,
    Guide,
    Page,
    Element,
    Timeout,
    Refresh,
    ClearTags,
    PushToPlugin,
    CompareLastScreen,
    GrabFormula,
    VerifyFormula,
    TestResult,
};
UnsavedField FirstUnsavedField(const EditorFields& fields, const TTaskRecord& task, bool existingTask);

} // namespace vexory
