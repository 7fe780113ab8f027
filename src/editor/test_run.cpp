#include "editor/test_run.h"

#include "base/text_helpers.h"
#include "editor/editor_rules.h"
#include "editor/gbk_texts.h"
#include "formula/page_prep.h"
#include "formula/verify_formula.h"

#include <exception>

namespace vexory {

namespace {

std::string join(std::string_view a, std::string_view b)
{
    std::string out(a);
    out += b;
    return out;
}

} // namespace

std::string RecordLine(int number, const std::vector<std::string>& names, const std::vector<std::string>& values)
{
    std::string line = std::to_string(number) + "\t: ";
    for (size_t i = 0; i < values.size(); ++i) {
        if (i)
            line += "\t| ";
        line += (i < names.size() ? names[i] : std::string()) + "=" + values[i];
    }
    return line;
}

TestEnd RunTest(const TestInput& input, const TestCallbacks& cb)
{
    const int kind = input.kind < 0 || input.kind > 2 ? 0 : input.kind;
    cb.add(texts::kTestHeadings[kind]);
    cb.add(join(texts::kTestName, input.name));
    if (input.name.empty())
        cb.add(texts::kTestNameMissing);

    auto finish = [&](TestEnd end) {
        cb.add(texts::kTestEnd);
        return end;
    };
    if (StripSpace(input.guide).empty() && StripSpace(input.page).empty()) {
        cb.add(texts::kTestNoUrl);
        return finish(TestEnd::Stopped);
    }
    cb.add(join(texts::kTestGuide, input.guide.empty() ? texts::kTestNotSet : input.guide));
    cb.add(join(texts::kTestPage, input.page.empty() ? texts::kTestNotSet : input.page));
    cb.add(join(texts::kTestElement, input.element.empty() ? texts::kTestNotSet : input.element));
    const std::optional<uint32_t> timeout = TestTimeoutMs(input.timeout);
    if (!timeout) {
        cb.add(texts::kTestTimeoutNotNumber);
        return finish(TestEnd::Stopped);
    }
    cb.add(join(texts::kTestTimeout, input.timeout) + std::string(texts::kTestSeconds) + "\r\n");
    cb.add(texts::kTestSourceRule);

    const std::string pseudo = cb.pseudoCode(*timeout);
    if (pseudo.empty()) {
        cb.add(texts::kTestNoPage);
        return finish(TestEnd::Stopped);
    }
    cb.add(pseudo);
    if (kind == 0)
        return finish(TestEnd::PageShown);

    cb.add(texts::kTestGrabRule);
    const CleanedFormula cleaned = CleanFormula(CompactHtml(input.grabBox), cb.repair);
    TStringCutOuter cutter;
    cutter.SetFormula(cleaned.formula);
    cutter.CutOut(CompactHtml(pseudo));
    const std::vector<std::string> names = cutter.FieldNames();
    const int rows = cutter.RowCount();
    if (cutter.FieldCount() == 0 || rows == 0) {
        cb.add(texts::kTestBadFormula);
    } else {
        for (int r = 1; r <= rows; ++r) {
            try {
                cb.add(CleanValue(RecordLine(r, names, cutter.Row(r)), input.clearTags));
            } catch (const std::exception&) {
                // One bad line does not end the listing.
            }
        }
    }

    if (kind == 2) {
        cb.add(texts::kTestVerifyRule);
        if (input.verify.empty()) {
            cb.add(texts::kTestNoVerify);
        } else {
            TFormulaChecker checker;
            checker.Parse(input.verify);
            int passed = 0;
            if (cutter.FieldCount() > 0) {
                for (int r = 1; r <= rows; ++r) {
                    std::vector<std::string> values = cutter.Row(r);
                    for (std::string& value : values)
                        value = CleanValue(value, input.clearTags);
                    if (checker.Check(values))
                        cb.add(RecordLine(++passed, names, values));
                }
            }
            if (passed == 0)
                cb.add(texts::kTestNonePassed);
        }
    }
    return finish(TestEnd::Listed);
}

} // namespace vexory
