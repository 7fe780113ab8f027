#include "formula/verify_formula.h"

#include "base/text_helpers.h"
#include "base/text_search.h"

#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace vexory {

namespace {

constexpr std::string_view kComparisons = "><=!^#"; // searched in this order

bool isNumeric(std::string_view t)
{
    return t.empty() || IsNumber(t);
}

long double numberOf(std::string_view t)
{
    if (t.empty())
        return 0.0L;
    std::string s(t);
    return std::strtold(s.c_str(), nullptr);
}

// Contains, character by character: a GBK double-byte character is compared whole,
// so a match must start on a character boundary of the text.
bool containsText(std::string_view text, std::string_view what)
{
    if (what.empty())
        return false;
    size_t boundary = 0;
    for (size_t pos = FindBytes(text, what); pos != std::string_view::npos; pos = FindBytes(text, what, pos + 1)) {
        while (boundary < pos)
            boundary += static_cast<unsigned char>(text[boundary]) >= 0x81 && boundary + 1 < text.size() ? 2 : 1;
        if (boundary == pos)
            return true;
    }
    return false;
}

} // namespace

std::string FormatNumber(long double value)
{
    if (value == 0.0L || std::isnan(value))
        return std::isnan(value) ? "NAN" : "0";
    if (std::isinf(value))
        return value > 0 ? "INF" : "-INF";
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.14Le", value);
    // buffer: [-]d.dddddddddddddde[+-]xx
    std::string s(buffer);
    const bool negative = s.front() == '-';
    if (negative)
        s.erase(0, 1);
    const size_t e = s.find('e');
    std::string digits = s.substr(0, 1) + s.substr(2, e - 2);
    const int exponent = std::atoi(s.c_str() + e + 1);
    while (digits.size() > 1 && digits.back() == '0')
        digits.pop_back();
    std::string out = negative ? "-" : "";
    if (exponent >= -5 && exponent <= 14) {
        if (exponent < 0) {
            out += "0.";
            out.append(static_cast<size_t>(-exponent - 1), '0');
            out += digits;
        } else if (static_cast<int>(digits.size()) <= exponent + 1) {
            out += digits;
            out.append(static_cast<size_t>(exponent + 1) - digits.size(), '0');
        } else {
            out += digits.substr(0, static_cast<size_t>(exponent + 1));
            out += '.';
            out += digits.substr(static_cast<size_t>(exponent + 1));
        }
        return out;
    }
    out += digits.substr(0, 1);
    if (digits.size() > 1) {
        out += '.';
        out += digits.substr(1);
    }
    out += 'E';
    out += std::to_string(exponent);
    return out;
}

int CompareNumbered(std::string_view a, std::string_view b)
{
    auto runs = [](std::string_view s) {
        std::vector<std::string_view> out;
        size_t i = 0;
        while (i < s.size()) {
            const bool digit = s[i] >= '0' && s[i] <= '9';
            size_t j = i + 1;
            while (j < s.size() && (s[j] >= '0' && s[j] <= '9') == digit)
                ++j;
            out.push_back(s.substr(i, j - i));
            i = j;
        }
        return out;
    };
    const auto ra = runs(a), rb = runs(b);
    if (ra.size() != rb.size())
        return 0;
    std::string pa, pb;
    for (size_t i = 0; i < ra.size(); ++i) {
        const bool da = ra[i][0] >= '0' && ra[i][0] <= '9';
        const bool db = rb[i][0] >= '0' && rb[i][0] <= '9';
        if (da != db)
            return 0;
        if (!da) {
            if (ra[i] != rb[i])
                return 0;
            pa += ra[i];
            pb += rb[i];
            continue;
        }
        const size_t width = std::max(ra[i].size(), rb[i].size());
        pa.append(width - ra[i].size(), '0');
        pa += ra[i];
        pb.append(width - rb[i].size(), '0');
        pb += rb[i];
    }
    if (pa == pb)
        return 3;
    for (size_t i = 0; i < pa.size(); ++i) {
        const unsigned char x = static_cast<unsigned char>(pa[i]), y = static_cast<unsigned char>(pb[i]);
        if (x != y)
            return x > y ? 1 : 2;
    }
    return 3; // not reached: equal lengths once padded
}

bool TFormulaChecker::Parse(std::string_view text)
{
    m_conditions.clear();
    // Every "&" ends a piece, the one appended to the text included.
    struct Piece
    {
        std::string_view text;
        bool isAnd;
    };
    std::vector<Piece> pieces;
    for (std::string_view piece : SplitViews(text, '&')) {
        // Split at "|": the first part keeps "and", later parts are "or".
        bool firstPart = true;
        for (std::string_view part : SplitViews(piece, '|')) {
            pieces.push_back({part, firstPart});
            firstPart = false;
        }
    }

    for (const Piece& piece : pieces) {
        const std::string_view s = piece.text;
        size_t p = std::string_view::npos;
        for (char c : kComparisons) {
            p = s.find(c);
            if (p != std::string_view::npos)
                break;
        }
        TCondition condition;
        condition.IsAnd = piece.isAnd ? 1 : 0;
        if (p == 1) {
            condition.Field1 = static_cast<unsigned char>(s[0]);
        } else if (p == 3) {
            condition.Field1 = static_cast<unsigned char>(s[0]);
            condition.Operator = static_cast<unsigned char>(s[1]);
            condition.Field2 = static_cast<unsigned char>(s[2]);
        } else {
            m_conditions.clear();
            return false;
        }
        const unsigned char op = condition.Operator;
        if (!(op == 0 || op == '*' || op == '+' || op == '-' || op == '/') ||
            (condition.Field1 == 0 && condition.Field2 == 0)) {
            m_conditions.clear();
            return false;
        }
        condition.Comparison = static_cast<unsigned char>(s[p]);
        condition.Value = std::string(s.substr(p + 1));
        m_conditions.push_back(std::move(condition));
    }
    return true;
}

bool TFormulaChecker::Check(const std::vector<std::string>& values) const
{
    if (m_conditions.empty())
        return true;
    // An or of and-groups: each group is true when all its conditions are.
    bool any = false;
    bool group = true;
    for (size_t i = 0; i < m_conditions.size(); ++i) {
        const bool result = EvaluateCondition(values, m_conditions[i]);
        if (i > 0 && !m_conditions[i].IsAnd) {
            any = any || group;
            group = true;
        }
        group = group && result;
    }
    return any || group;
}

bool TFormulaChecker::EvaluateCondition(const std::vector<std::string>& values, const TCondition& condition) const
{
    auto valueOf = [&](unsigned char code) -> std::string_view {
        if (code == 0 || code > values.size())
            return {};
        return values[code - 1];
    };
    const std::string& v = condition.Value;
    std::string left;
    if (condition.Operator == 0) {
        left = valueOf(condition.Field1 != 0 ? condition.Field1 : condition.Field2);
    } else {
        const std::string_view a = valueOf(condition.Field1);
        const std::string_view b = valueOf(condition.Field2);
        if (StripSpace(a).empty()) {
            left = b;
        } else if (StripSpace(b).empty()) {
            left = a;
        } else {
            const bool numbers = isNumeric(v) && isNumeric(a) && isNumeric(b);
            switch (condition.Operator) {
            case '*':
                if (!numbers)
                    return false;
                left = FormatNumber(numberOf(a) * numberOf(b));
                break;
            case '+':
                left = numbers ? FormatNumber(numberOf(a) + numberOf(b)) : std::string(a) + std::string(b);
                break;
            case '-':
                left = numbers ? FormatNumber(numberOf(a) - numberOf(b)) : RemoveAll(a, b, true);
                break;
            case '/': {
                if (!numbers)
                    return false;
                const long double x = numberOf(a), y = numberOf(b);
                if (x == 0 && y == 0)
                    left = "1";
                else if (y != 0)
                    left = FormatNumber(x / y);
                else
                    left = FormatNumber(LDBL_MAX);
                break;
            }
            }
        }
    }
    if (left.empty())
        return false;
    switch (condition.Comparison) {
    case '=':
        return left == v;
    case '!':
        return left != v;
    case '^':
        return containsText(left, v);
    case '#':
        return !containsText(left, v);
    case '<':
        if (isNumeric(left) && isNumeric(v))
            return numberOf(left) <= numberOf(v);
        return CompareNumbered(left, v) >= 2;
    case '>':
        if (isNumeric(left) && isNumeric(v))
            return numberOf(left) >= numberOf(v);
        return CompareNumbered(left, v) % 2 == 1;
    }
    return false;
}

} // namespace vexory
