// vexory-cli prepare / cut / clean / check / tree / paths: the formula engine.

#include "commands.h"

#include "base/text_helpers.h"
#include "formula/grab_formula.h"
#include "formula/html_text_list.h"
#include "formula/markers.h"
#include "formula/page_prep.h"
#include "formula/verify_formula.h"
#include "platform/codepage.h"

#include <iostream>

namespace vexory::cli {

namespace {

using Json = nlohmann::ordered_json;

// An argument with "\xNN" for one byte and "\\" for a backslash; the rest is UTF-8
// text, taken over as GBK.
std::string unescapeArgument(std::string_view arg)
{
    std::string out;
    std::string run;
    auto flush = [&] {
        out += Utf8ToGbk(run);
        run.clear();
    };
    auto hex = [](char c) {
        if (c >= '0' && c <= '9')
            return c - '0';
        if (c >= 'a' && c <= 'f')
            return c - 'a' + 10;
        if (c >= 'A' && c <= 'F')
            return c - 'A' + 10;
        return -1;
    };
    for (size_t i = 0; i < arg.size(); ++i) {
        if (arg[i] != '\\') {
            run += arg[i];
            continue;
        }
        if (i + 1 < arg.size() && arg[i + 1] == '\\') {
            run += '\\';
            ++i;
        } else if (i + 3 < arg.size() + 0 && arg[i + 1] == 'x' && hex(arg[i + 2]) >= 0 && hex(arg[i + 3]) >= 0) {
            flush();
            out += static_cast<char>(hex(arg[i + 2]) * 16 + hex(arg[i + 3]));
            i += 3;
        } else {
            throw UsageError("bad escape in \"" + std::string(arg) +
                             "\": use \\xNN for a byte and \\\\ for a backslash");
        }
    }
    flush();
    return out;
}

Json textsToJson(const std::vector<std::string>& texts)
{
    Json list = Json::array();
    for (const auto& t : texts)
        list.push_back(GbkToUtf8(t));
    return list;
}

} // namespace

int Prepare(Args args, const Options& options)
{
    const bool lower = TakeFlag(args, "--lower");
    ExpectOperands(args, 1, 1, "vexory-cli prepare [--lower] PAGE");
    PreparedPage page = PreparePage(ReadTextFile(args[0], options));
    WriteText(lower ? page.lower : page.text, options);
    return 0;
}

int Cut(Args args, const Options& options)
{
    const bool raw = TakeFlag(args, "--raw");
    ExpectOperands(args, 2, 2, "vexory-cli cut [--raw] FORMULA_FILE PAGE");
    const std::string formula = ReadTextFile(args[0], options);
    std::string page = ReadTextFile(args[1], options);
    if (!raw)
        page = PreparePage(page).lower;

    // Compiled as the monitor compiles a task's formula.
    TStringCutOuter cutter;
    cutter.SetFormula(ExtractChainMarkers(formula).first);
    cutter.CutOut(page);

    Json fields = Json::array();
    Json rows = Json::array();
    for (const std::string& name : cutter.FieldNames())
        fields.push_back(GbkToUtf8(name));
    for (int r = 1; r <= cutter.RowCount(); ++r) {
        Json row = Json::array();
        for (const std::string& value : cutter.Row(r))
            row.push_back(GbkToUtf8(value));
        rows.push_back(std::move(row));
    }
    WriteJson(Json{{"fields", fields}, {"rows", rows}});
    return 0;
}

int Clean(Args args, const Options& options)
{
    ExpectOperands(args, 1, 1, "vexory-cli clean FORMULA_FILE");
    CleanedFormula c = CleanFormula(ReadTextFile(args[0], options));
    WriteJson(Json{{"formula", GbkToUtf8(c.formula)},
                   {"chains", GbkToUtf8(c.chains)},
                   {"notes", GbkToUtf8(c.notes)},
                   {"messages", textsToJson(c.messages)}});
    return 0;
}

int Check(Args args, const Options&)
{
    // Values may begin with "-": nothing after the command is an option.
    if (args.empty())
        throw UsageError("usage: vexory-cli check VERIFY [VALUE...]");
    TFormulaChecker checker;
    checker.Parse(unescapeArgument(args[0]));
    std::vector<std::string> values;
    for (size_t i = 1; i < args.size(); ++i)
        values.push_back(unescapeArgument(args[i]));
    std::cout << (checker.Check(values) ? "pass" : "fail") << '\n';
    return 0;
}

int Tree(Args args, const Options& options)
{
    ExpectOperands(args, 1, 1, "vexory-cli tree PAGE");
    THtmlTextList tree;
    tree.Parse(ReadTextFile(args[0], options));
    std::vector<std::string> lines;
    tree.DumpTree(lines, "", TreeIndent);
    std::string out;
    for (const auto& line : lines) {
        out += line;
        out += '\n';
    }
    WriteText(out, options);
    return 0;
}

int Paths(Args args, const Options& options)
{
    if (args.size() < 2)
        throw UsageError("usage: vexory-cli paths PAGE PATH...");
    for (const auto& a : args)
        if (a.rfind("--", 0) == 0)
            throw UsageError("unknown option " + a + "\nusage: vexory-cli paths PAGE PATH...");
    std::vector<IndexPath> paths;
    for (size_t i = 1; i < args.size(); ++i) {
        IndexPath p;
        if (!ParseIndexPath(args[i], p))
            throw UsageError("not an index path: \"" + args[i] + "\" (numbers joined by \".\", such as 2.-1.3)");
        paths.push_back(std::move(p));
    }
    THtmlTextList tree;
    const std::string joined = tree.GetPathTexts(ReadTextFile(args[0], options), paths);
    std::vector<std::string> texts;
    for (std::string_view text : SplitViews(joined, kFieldSeparator))
        texts.emplace_back(text);
    WriteJson(textsToJson(texts));
    return 0;
}

} // namespace vexory::cli
