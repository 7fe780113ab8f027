// Turns the table of the program's code page 936 texts (UTF-8, one entry per text)
// into one header per section, <folder>/gbk_texts.h, asking iconv for the bytes
// (run at build time). A header is rewritten only when its text changes.
//
//   texts_gen TABLE OUTPUT_FOLDER FOLDER...
//
// Every section of the table must be one of the FOLDERs given, and every FOLDER
// must have a section: the build knows the headers it waits for.

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iconv.h>
#include <iterator>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct Section
{
    std::string comment;
    std::string body;
    std::map<std::string, std::vector<std::string>> arrays; // name -> its elements, written at the end
    std::vector<std::string> arrayOrder;
    std::map<std::string, std::string> arrayComments;
};

[[noreturn]] void fail(const std::string& where, const std::string& why)
{
    std::fprintf(stderr, "texts_gen: %s: %s\n", where.c_str(), why.c_str());
    std::exit(1);
}

// The text between the quotes, its C escapes resolved.
std::string unquote(const std::string& quoted, const std::string& where)
{
    if (quoted.size() < 2 || quoted.front() != '"' || quoted.back() != '"')
        fail(where, "the text must stand in double quotes");
    std::string out;
    for (size_t i = 1; i + 1 < quoted.size(); ++i) {
        char c = quoted[i];
        if (c == '\\') {
            if (i + 2 >= quoted.size())
                fail(where, "a backslash ends the text");
            switch (quoted[++i]) {
            case 'r':
                c = '\r';
                break;
            case 'n':
                c = '\n';
                break;
            case 't':
                c = '\t';
                break;
            case '"':
                c = '"';
                break;
            case '\\':
                c = '\\';
                break;
            default:
                fail(where, "unknown escape");
            }
        } else if (c == '"') {
            fail(where, "a quote inside the text must be written \\\"");
        }
        out += c;
    }
    return out;
}

std::string toGbk(iconv_t cd, const std::string& utf8, const std::string& where)
{
    std::string out(utf8.size() * 2 + 4, '\0');
    char* in = const_cast<char*>(utf8.data());
    size_t inLeft = utf8.size();
    char* o = out.data();
    size_t outLeft = out.size();
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    if (iconv(cd, &in, &inLeft, &o, &outLeft) == static_cast<size_t>(-1))
        fail(where, "a character code page 936 does not have");
    out.resize(out.size() - outLeft);
    return out;
}

// A C string literal of the bytes, split where a hexadecimal escape would run into
// the next character.
std::string literal(const std::string& bytes)
{
    static const char hex[] = "0123456789ABCDEF";
    std::string out = "\"";
    bool afterEscape = false;
    for (const char ch : bytes) {
        const auto c = static_cast<unsigned char>(ch);
        if (c >= 0x80 || c < 0x20 || c == 0x7F) {
            if (c == '\r' || c == '\n' || c == '\t') {
                out += c == '\r' ? "\\r" : c == '\n' ? "\\n" : "\\t";
                afterEscape = false;
                continue;
            }
            out += "\\x";
            out += hex[c >> 4];
            out += hex[c & 15];
            afterEscape = true;
            continue;
        }
        if (afterEscape && std::isxdigit(c))
            out += "\" \"";
        if (c == '"' || c == '\\')
            out += '\\';
        out += static_cast<char>(c);
        afterEscape = false;
    }
    return out + "\"";
}

std::string header(const Section& s)
{
    std::string out = "#pragma once\n\n// " + s.comment +
                      "\n// Made from the table gbk_texts.txt at build time: change the texts there.\n\n"
                      "#include <string_view>\n\nnamespace vexory::texts {\n\n" +
                      s.body;
    for (const std::string& name : s.arrayOrder) {
        out += s.arrayComments.at(name);
        const auto& items = s.arrays.at(name);
        out += "inline constexpr std::string_view " + name + "[" + std::to_string(items.size()) + "] = {\n";
        for (const std::string& item : items)
            out += "    " + item + ",\n";
        out += "};\n";
    }
    return out + "\n} // namespace vexory::texts\n";
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 4) {
        std::fprintf(stderr, "usage: texts_gen TABLE OUTPUT_FOLDER FOLDER...\n");
        return 2;
    }
    const std::string table = argv[1], output = argv[2];
    const std::set<std::string> expected(argv + 3, argv + argc);
    std::ifstream in(table);
    if (!in)
        fail(table, "cannot be read");
    iconv_t cd = iconv_open("CP936", "UTF-8");
    if (cd == reinterpret_cast<iconv_t>(-1))
        fail(table, "iconv has no CP936");

    std::map<std::string, Section> sections;
    Section* current = nullptr;
    std::string comments;
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        const std::string where = table + ":" + std::to_string(number);
        if (line.empty() || line[0] == '#')
            continue;
        if (line[0] == '[') {
            const size_t close = line.find(']');
            if (close == std::string::npos)
                fail(where, "a section is [folder] and what its texts are");
            const std::string folder = line.substr(1, close - 1);
            if (!expected.count(folder))
                fail(where, "the build does not know the section " + folder);
            if (sections.count(folder))
                fail(where, "the section " + folder + " comes twice");
            current = &sections[folder];
            current->comment = line.substr(close + 1 + (close + 1 < line.size() && line[close + 1] == ' '));
            comments.clear();
            continue;
        }
        if (!current)
            fail(where, "an entry before the first section");
        if (line.rfind("//", 0) == 0) {
            comments += line + "\n";
            continue;
        }
        const size_t eq = line.find(" = ");
        if (eq == std::string::npos)
            fail(where, "an entry is kName = \"text\"");
        std::istringstream left(line.substr(0, eq));
        std::string name, kind;
        left >> name >> kind;
        const bool utf8 = kind == "utf8";
        if (!kind.empty() && !utf8)
            fail(where, "unknown kind " + kind);
        const std::string text = unquote(line.substr(eq + 3), where);
        const std::string bytes = literal(utf8 ? text : toGbk(cd, text, where));
        if (name.size() > 2 && name.compare(name.size() - 2, 2, "[]") == 0) {
            name.resize(name.size() - 2);
            if (!current->arrays.count(name)) {
                current->arrayOrder.push_back(name);
                current->arrayComments[name] = comments;
            }
            current->arrays[name].push_back(bytes);
        } else {
            current->body += comments + "inline constexpr std::string_view " + name + " = " + bytes + ";\n";
        }
        comments.clear();
    }
    for (const std::string& folder : expected)
        if (!sections.count(folder))
            fail(table, "no section " + folder);
    for (const auto& [folder, section] : sections) {
        const std::string path = output + "/" + folder + "/gbk_texts.h";
        std::filesystem::create_directories(output + "/" + folder);
        const std::string text = header(section);
        std::ifstream old(path, std::ios::binary);
        if (old && std::string(std::istreambuf_iterator<char>(old), {}) == text)
            continue;
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        if (!(out << text))
            fail(path, "cannot be written");
    }
    iconv_close(cd);
    return 0;
}
