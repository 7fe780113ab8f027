#include "page_generator.h"

#include <cstdint>

namespace vexory::bench {

namespace {

// A small deterministic generator (xorshift), so pages never change between runs.
struct Random
{
    uint64_t state;
    explicit Random(uint64_t seed) : state(seed * 2654435761u + 1) {}
    uint32_t next()
    {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        return static_cast<uint32_t>(state);
    }
    uint32_t below(uint32_t n) { return next() % n; }
};

const char* const kWords[] = {"\xC9\xCC\xC6\xB7",         "\xCF\xEA\xC7\xE9", "\xC9\xCF\xBA\xA3\xCA\xD0",
                              "\xBC\xDB\xB8\xF1\xCB\xB5\xC3\xF7", "\xB1\xB1\xBE\xA9", "Vexory",
                              "monitor",                  "Record",           "sale"};

std::string words(Random& r, int count)
{
    std::string out;
    for (int i = 0; i < count; ++i) {
        if (i)
            out += ' ';
        out += kWords[r.below(sizeof kWords / sizeof *kWords)];
    }
    return out;
}

std::string head(Random& r)
{
    std::string h = "<!DOCTYPE html>\r\n<html lang=\"zh-CN\">\r\n<head>\r\n<meta charset=\"gbk\">\r\n"
                    "<title>" + words(r, 4) + "</title>\r\n";
    for (int i = 0; i < 12; ++i) {
        h += "<link rel=\"stylesheet\" href=\"/css/site" + std::to_string(i) + ".css\">\r\n";
        h += "<script type=\"text/javascript\">\r\n  var config" + std::to_string(i) +
             " = { a: 1, b: \"<div>not markup</div>\" };\r\n  if (a < b && b > c) { run(); }\r\n</script>\r\n";
        h += "<!-- section " + std::to_string(i) + ": <p>commented out</p> -->\r\n";
        h += "<style>\r\n .item" + std::to_string(i) + " { color: red; margin: 0 }\r\n</style>\r\n";
    }
    h += "</head>\r\n";
    return h;
}

std::string item(Random& r, int n)
{
    const std::string id = std::to_string(n);
    std::string price = std::to_string(1 + r.below(9999)) + "." + std::to_string(10 + r.below(90));
    std::string date = "2024-" + std::to_string(1 + r.below(12)) + "-" + std::to_string(1 + r.below(28));
    // Attributes in varied order and spacing; the preparation puts them in one form.
    std::string div = r.below(2) ? "<div class=\"item row\"  data-id=\"" + id + "\">"
                                 : "<div data-id='" + id + "' class=\"row  item\" >";
    return "  " + div + "\r\n    <span class=\"title\">" + words(r, 3) + " " + id +
           "</span>\r\n    <span  class='price'>" + price + "</span>\r\n    <a href=\"/item/" + id +
           "\" class=\"link\">" + words(r, 1) + "</a><em>" + date + "</em>\r\n  </div>\r\n";
}

} // namespace

std::string ListingPage(size_t bytes)
{
    Random r(bytes);
    std::string page = head(r);
    page += "<body>\r\n<div id=\"page\" class=\"main\">\r\n<div class=\"header\"><h1>" + words(r, 3) +
            "</h1></div>\r\n<div class=\"list\">\r\n";
    const std::string tail = "</div>\r\n<div class=\"footer\">" + words(r, 6) + "</div>\r\n</div>\r\n</body>\r\n</html>\r\n";
    for (int n = 1; page.size() + tail.size() < bytes; ++n)
        page += item(r, n);
    return page + tail;
}

std::string UnclosedTagsPage(size_t bytes)
{
    Random r(bytes + 1);
    static const char* const kTags[] = {"<li>", "<br>", "<img src=\"/i.png\">", "<p>"};
    std::string page = "<html><head><title>t</title></head><body><ul>";
    while (page.size() + 40 < bytes) {
        page += kTags[r.below(4)];
        page += words(r, 1 + static_cast<int>(r.below(8)));
        page += ' ';
    }
    return page + "</ul></body></html>";
}

std::string NestedPage(size_t bytes)
{
    Random r(bytes + 2);
    const size_t depth = bytes / 800;
    std::string open = "<html><body>";
    std::string close;
    std::string text = words(r, 40);
    for (size_t i = 0; i < depth; ++i) {
        open += "<div class=\"level\" id=\"d" + std::to_string(i) + "\"><p>" + text + "</p>";
        close += "<span>" + text + "</span></div>";
    }
    return open + "<i>bottom</i>" + close + "</body></html>";
}

} // namespace vexory::bench
