#include "editor/editor_rules.h"

#include "base/text_helpers.h"
#include "editor/gbk_texts.h"
#include "formula/grab_formula.h"
#include "formula/marker_search.h"
#include "formula/markers.h"
#include "service/service_client.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>

namespace vexory {

namespace {

// Two letters, 0 .. 675; -1 before the first name.
int g_fieldName = -1;

std::string nameOf(int n)
{
    return {static_cast<char>('a' + n / 26), static_cast<char>('a' + n % 26)};
}

// The number a field holds, or nothing. The program's own parser, so the user's
// locale never changes what "1.5" means.
std::optional<double> numberOf(std::string_view text)
{
    const std::string filtered = StripSpace(text);
    if (!IsNumber(filtered))
        return std::nullopt;
    std::string_view digits = filtered;
    if (!digits.empty() && digits.front() == '+')
        digits.remove_prefix(1);
    double value = 0;
    const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (ec == std::errc::result_out_of_range)
        return std::numeric_limits<double>::infinity();
    if (ec != std::errc() || end != digits.data() + digits.size())
        return std::nullopt;
    return value;
}

// |value| x unit, rounded half to even, capped at the largest multiple of `unit`
// a 32-bit field holds.
uint32_t scaled(double value, double unit, bool roundFirst)
{
    const double maxUnits = std::floor(std::numeric_limits<uint32_t>::max() / unit);
    double v = std::fabs(value);
    if (roundFirst) {
        v = std::nearbyint(v); // the default rounding mode: halves to even
        if (!(v <= maxUnits))
            v = maxUnits;
        return static_cast<uint32_t>(v * unit);
    }
    v = std::nearbyint(v * unit);
    if (!(v <= static_cast<double>(std::numeric_limits<uint32_t>::max())))
        v = std::numeric_limits<uint32_t>::max();
    return static_cast<uint32_t>(v);
}

} // namespace

std::string NextFieldName()
{
    g_fieldName = (g_fieldName + 1) % 676;
    return nameOf(g_fieldName);
}

std::string CurrentFieldName()
{
    return g_fieldName < 0 ? std::string() : nameOf(g_fieldName);
}

void ResetFieldNames()
{
    g_fieldName = -1;
}

namespace {

// The characters of `text` a field marker's name may hold, at most kFieldNameChars.
std::string fieldNameOf(std::string_view text)
{
    std::string name;
    size_t chars = 0;
    for (size_t i = 0; i < text.size() && chars < kFieldNameChars; ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        const auto alnum = [](unsigned char b) {
            return (b >= '0' && b <= '9') || (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z');
        };
        if (c < 0x80) {
            if (alnum(c)) {
                name += static_cast<char>(c);
                ++chars;
            }
            continue;
        }
        if (c == 0x80 || c == 0xFF || i + 1 == text.size())
            continue; // no lead byte of a character
        const auto trail = static_cast<unsigned char>(text[++i]);
        // A trail byte of punctuation ("@", "[", "|"...) would end the marker's name;
        // the ideographic blank is no part of one.
        if ((trail >= 0x80 || alnum(trail)) && !(c == 0xA1 && trail == 0xA1)) {
            name += static_cast<char>(c);
            name += static_cast<char>(trail);
            ++chars;
        }
    }
    return name;
}

} // namespace

std::vector<std::string> FieldNames(const std::vector<std::string>& wanted)
{
    std::vector<std::string> names;
    names.reserve(wanted.size());
    auto taken = [&names](const std::string& name) {
        return std::find(names.begin(), names.end(), name) != names.end();
    };
    for (size_t i = 0; i < wanted.size(); ++i) {
        std::string name = fieldNameOf(wanted[i]);
        if (name.empty())
            name = std::string(texts::kFieldNamePrefix) + std::to_string(i + 1);
        if (taken(name)) {
            int n = 2;
            while (taken(name + std::to_string(n)))
                ++n;
            name += std::to_string(n);
        }
        names.push_back(std::move(name));
    }
    return names;
}

std::string RenameFieldMarkers(std::string_view text, const std::vector<std::pair<std::string, std::string>>& names)
{
    std::string out;
    out.reserve(text.size());
    size_t done = 0;
    for (const WildMatch m : FindAllMarkers(text, FieldPattern(), IsValidFieldMarker)) {
        const auto at = static_cast<size_t>(m.pos - 1);
        const std::string_view marker = Matched(text, m);
        const std::string_view name = MarkerContent(marker, FieldMark);
        const auto renamed = std::find_if(names.begin(), names.end(), [&](const auto& n) { return n.first == name; });
        out.append(text.substr(done, at - done));
        out += renamed == names.end() ? std::string(marker) : MakeMark(FieldMark, renamed->second);
        done = at + marker.size();
    }
    out.append(text.substr(done));
    return out;
}

std::optional<uint32_t> SecondsToMs(std::string_view text)
{
    const std::optional<double> v = numberOf(text);
    if (!v)
        return std::nullopt;
    return scaled(*v, 1000.0, true);
}

std::optional<uint32_t> TestTimeoutMs(std::string_view text)
{
    const std::optional<double> v = numberOf(text);
    if (!v)
        return std::nullopt;
    return scaled(*v, 1000.0, false);
}

std::optional<uint32_t> HoursToMs(std::string_view text)
{
    const std::optional<double> v = numberOf(text);
    if (!v)
        return std::nullopt;
    return scaled(*v, 3600000.0, false);
}

std::string HoursText(uint32_t ms)
{
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.15g", static_cast<double>(ms) / 3600000.0);
    return buffer;
}

std::vector<std::string> StoreNumberFields(const NumberFields& fields, TTaskRecord& task, bool limitRefresh)
{
    std::vector<std::string> report;
    if (const std::optional<uint32_t> ms = SecondsToMs(fields.timeout); ms && *ms > 0) {
        task.ConnectTimeout = *ms;
    } else {
        // No time-out at all would leave a page that never loads waiting for ever.
        task.ConnectTimeout = kNewTaskTimeoutMs;
        report.emplace_back(ms ? texts::kTimeoutZero : texts::kTimeoutNotNumber);
    }
    if (const std::optional<uint32_t> ms = SecondsToMs(fields.refresh)) {
        task.RefreshInterval = *ms;
        if (limitRefresh && task.RefreshInterval < kSlowestRefreshMs) {
            task.RefreshInterval = kSlowestRefreshMs;
            report.emplace_back(texts::kRefreshTooFast);
        }
    } else {
        task.RefreshInterval = kSlowestRefreshMs;
        report.emplace_back(texts::kRefreshNotNumber);
    }
    if (const std::optional<uint32_t> ms = HoursToMs(fields.notify)) {
        task.NotifyInterval = *ms;
    } else {
        task.NotifyInterval = 3600000;
        report.emplace_back(texts::kNotifyNotNumber);
    }
    return report;
}

std::string SavedGrabFormula(std::string_view boxText, const std::function<void(std::string_view)>& report)
{
    CleanedFormula cleaned = CleanFormula(boxText, report);
    return cleaned.formula + cleaned.chains + cleaned.notes;
}

UnsavedField FirstUnsavedField(const EditorFields& fields, const TTaskRecord& task, bool existingTask)
{
    if (existingTask && StripSpace(fields.name) != task.TaskName)
        return UnsavedField::Name;
    if (TypedAddress(fields.guide) != task.GuideUrl)
        return UnsavedField::Guide;
    if (TypedAddress(fields.page) != task.PageUrl())
        return UnsavedField::Page;
    if (StripSpace(fields.element) != task.ElementId)
        return UnsavedField::Element;
    // Text comparisons: "10.0" differs from a stored 10000.
    if (StripSpace(fields.timeout) != std::to_string(task.ConnectTimeout / 1000))
        return UnsavedField::Timeout;
    if (StripSpace(fields.refresh) != std::to_string(task.RefreshInterval / 1000))
        return UnsavedField::Refresh;
    if (fields.clearTags != (task.ClearTags != 0))
        return UnsavedField::ClearTags;
    if (fields.pushToPlugin != (task.PushToPlugin != 0))
        return UnsavedField::PushToPlugin;
    if (fields.compareLastScreen != (task.CompareLastScreen != 0))
        return UnsavedField::CompareLastScreen;
    if (SavedGrabFormula(fields.grabBox) != task.GrabFormula)
        return UnsavedField::GrabFormula;
    if (fields.verify != task.VerifyFormula)
        return UnsavedField::VerifyFormula;
    if (fields.keepTestResult && fields.memo != task.SavedTestResult)
        return UnsavedField::TestResult;
    return UnsavedField::None;
}

} // namespace vexory
