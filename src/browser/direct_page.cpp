#include "browser/direct_page.h"

#include "base/ascii_fold.h"
#include "browser/page_encoding.h"
#include "browser/url_resolve.h"
#include "platform/codepage.h"

#include <gumbo.h>

#include <cstddef>
#include <functional>
#include <memory>
#include <vector>

namespace vexory {

namespace {

using Rewrite = std::function<bool(const GumboNode* element, const GumboAttribute* attribute, std::string& value)>;

bool isVoid(GumboTag tag)
{
    switch (tag) {
    case GUMBO_TAG_AREA:
    case GUMBO_TAG_BASE:
    case GUMBO_TAG_BASEFONT:
    case GUMBO_TAG_BGSOUND:
    case GUMBO_TAG_BR:
    case GUMBO_TAG_COL:
    case GUMBO_TAG_EMBED:
    case GUMBO_TAG_FRAME:
    case GUMBO_TAG_HR:
    case GUMBO_TAG_IMG:
    case GUMBO_TAG_INPUT:
    case GUMBO_TAG_KEYGEN:
    case GUMBO_TAG_LINK:
    case GUMBO_TAG_META:
    case GUMBO_TAG_PARAM:
    case GUMBO_TAG_SOURCE:
    case GUMBO_TAG_TRACK:
    case GUMBO_TAG_WBR:
        return true;
    default:
        return false;
    }
}

// Text in these is written as it stands (their content is not markup).
bool rawTextParent(const GumboNode* parent)
{
    if (!parent || (parent->type != GUMBO_NODE_ELEMENT && parent->type != GUMBO_NODE_TEMPLATE) ||
        parent->v.element.tag_namespace != GUMBO_NAMESPACE_HTML)
        return false;
    switch (parent->v.element.tag) {
    case GUMBO_TAG_STYLE:
    case GUMBO_TAG_SCRIPT:
    case GUMBO_TAG_XMP:
    case GUMBO_TAG_IFRAME:
    case GUMBO_TAG_NOEMBED:
    case GUMBO_TAG_NOFRAMES:
    case GUMBO_TAG_PLAINTEXT:
    case GUMBO_TAG_NOSCRIPT:
        return true;
    default:
        return false;
    }
}

std::string tagName(const GumboElement& e)
{
    GumboStringPiece piece = e.original_tag;
    if (piece.length > 0)
        gumbo_tag_from_original_text(&piece);
    if (e.tag_namespace == GUMBO_NAMESPACE_SVG && piece.length > 0)
        if (const char* adjusted = gumbo_normalize_svg_tagname(&piece))
            return adjusted;
    if (e.tag != GUMBO_TAG_UNKNOWN)
        return gumbo_normalized_tagname(e.tag);
    std::string name(piece.data, piece.length);
    for (char& c : name)
        c = LowerAsciiChar(c);
    return name;
}

std::string attributeName(const GumboAttribute& a)
{
    switch (a.attr_namespace) {
    case GUMBO_ATTR_NAMESPACE_XLINK:
        return std::string("xlink:") + a.name;
    case GUMBO_ATTR_NAMESPACE_XML:
        return std::string("xml:") + a.name;
    case GUMBO_ATTR_NAMESPACE_XMLNS:
        return std::string(a.name) == "xmlns" ? std::string("xmlns") : std::string("xmlns:") + a.name;
    case GUMBO_ATTR_NAMESPACE_NONE:
        break;
    }
    return a.name;
}

// & < > and the no-break space as a browser escapes them in text; in an attribute
// value & " and the no-break space.
void escape(std::string& out, std::string_view text, bool attribute)
{
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '&')
            out += "&amp;";
        else if (c == '\xC2' && i + 1 < text.size() && text[i + 1] == '\xA0') {
            out += "&nbsp;";
            ++i;
        } else if (attribute && c == '"')
            out += "&quot;";
        else if (!attribute && c == '<')
            out += "&lt;";
        else if (!attribute && c == '>')
            out += "&gt;";
        else
            out += c;
    }
}

bool serializeChildren(std::string& out, const GumboVector& children, const Rewrite& rewrite);

bool serializeNode(std::string& out, const GumboNode* node, const Rewrite& rewrite)
{
    switch (node->type) {
    case GUMBO_NODE_ELEMENT:
    case GUMBO_NODE_TEMPLATE: {
        const GumboElement& e = node->v.element;
        const std::string name = tagName(e);
        out += '<';
        out += name;
        for (unsigned i = 0; i < e.attributes.length; ++i) {
            const auto* a = static_cast<const GumboAttribute*>(e.attributes.data[i]);
            std::string value = a->value;
            if (rewrite && !rewrite(node, a, value))
                return false;
            out += ' ';
            out += attributeName(*a);
            out += "=\"";
            escape(out, value, true);
            out += '"';
        }
        out += '>';
        if (e.tag_namespace == GUMBO_NAMESPACE_HTML && isVoid(e.tag))
            return true;
        if (!serializeChildren(out, e.children, rewrite))
            return false;
        out += "</";
        out += name;
        out += '>';
        return true;
    }
    case GUMBO_NODE_TEXT:
    case GUMBO_NODE_WHITESPACE:
    case GUMBO_NODE_CDATA:
        if (rawTextParent(node->parent))
            out += node->v.text.text;
        else
            escape(out, node->v.text.text, false);
        return true;
    case GUMBO_NODE_COMMENT:
        out += "<!--";
        out += node->v.text.text;
        out += "-->";
        return true;
    case GUMBO_NODE_DOCUMENT:
        break;
    }
    return true;
}

bool serializeChildren(std::string& out, const GumboVector& children, const Rewrite& rewrite)
{
    for (unsigned i = 0; i < children.length; ++i)
        if (!serializeNode(out, static_cast<const GumboNode*>(children.data[i]), rewrite))
            return false;
    return true;
}

// The parse's memory: tens of thousands of small blocks for a listing, all freed
// together. Taken from a few large chunks and given back at once, instead of
// through the heap one by one (which leaves a page's worth of scattered free
// blocks in every thread that parses).
class ParseArena
{
public:
    static void* Allocate(void* self, size_t size) { return static_cast<ParseArena*>(self)->allocate(size); }
    static void Free(void*, void*) {}

private:
    static constexpr size_t kChunk = 64 * 1024; // under the heap's mmap threshold: reused, not mapped anew
    static constexpr size_t kAlign = alignof(std::max_align_t);

    void* allocate(size_t size)
    {
        size = (size + kAlign - 1) & ~(kAlign - 1);
        if (size > kChunk / 4) // a large block gets a chunk of its own
            return m_chunks.emplace_back(new std::max_align_t[size / kAlign]).get();
        if (m_left < size) {
            m_next = reinterpret_cast<char*>(m_chunks.emplace_back(new std::max_align_t[kChunk / kAlign]).get());
            m_left = kChunk;
        }
        void* block = m_next;
        m_next += size;
        m_left -= size;
        return block;
    }

    std::vector<std::unique_ptr<std::max_align_t[]>> m_chunks;
    char* m_next = nullptr;
    size_t m_left = 0;
};

struct Parsed
{
    explicit Parsed(std::string_view html) : text(html)
    {
        GumboOptions options = kGumboDefaultOptions;
        options.allocator = &ParseArena::Allocate;
        options.deallocator = &ParseArena::Free;
        options.userdata = &arena;
        options.max_errors = 0; // parse errors are not kept: nobody reads them
        output = gumbo_parse_with_options(&options, text.data(), text.size());
    }
    Parsed(const Parsed&) = delete;
    Parsed& operator=(const Parsed&) = delete;

    std::string text; // the parse points into it
    ParseArena arena; // holds the parse; freed with it
    GumboOutput* output;
};

bool isHtmlElement(const GumboNode* node, GumboTag tag)
{
    return (node->type == GUMBO_NODE_ELEMENT || node->type == GUMBO_NODE_TEMPLATE) &&
           node->v.element.tag == tag && node->v.element.tag_namespace == GUMBO_NAMESPACE_HTML;
}

// Walks the elements in tree order; false from `visit` ends the walk.
bool walk(const GumboNode* node, const std::function<bool(const GumboNode*)>& visit)
{
    if (node->type != GUMBO_NODE_ELEMENT && node->type != GUMBO_NODE_TEMPLATE)
        return true;
    if (!visit(node))
        return false;
    const GumboVector& children = node->v.element.children;
    for (unsigned i = 0; i < children.length; ++i)
        if (!walk(static_cast<const GumboNode*>(children.data[i]), visit))
            return false;
    return true;
}

bool htmlContentType(std::string_view contentType)
{
    std::string type;
    for (char c : contentType.substr(0, contentType.find(';')))
        if (c != ' ' && c != '\t')
            type += LowerAsciiChar(c);
    return type == "text/html";
}

} // namespace

std::string InnerHtmlOfDocument(std::string_view html)
{
    const Parsed parsed(html);
    std::string out;
    serializeChildren(out, parsed.output->root->v.element.children, {});
    return out;
}

std::optional<std::string> DirectPageText(std::string_view bytes, std::string_view contentType, std::string_view url)
{
    if (!htmlContentType(contentType))
        return std::nullopt; // other types a browser shows in a page of its own making
    const SniffedEncoding sniffed = SniffEncoding(bytes, contentType);
    std::optional<std::string> utf8 = DecodeToUtf8(bytes.substr(sniffed.bomLength), sniffed.encoding);
    if (!utf8)
        return std::nullopt;
    const std::optional<std::string> documentUrl = ResolveUrl(url, {});
    if (!documentUrl)
        return std::nullopt;
    const Parsed parsed(*utf8);
    const GumboNode* root = parsed.output->root;

    // The base of the links: the first <base href>, resolved against the page's address.
    std::string base = *documentUrl;
    bool readable = true;
    walk(root, [&](const GumboNode* node) {
        if (isHtmlElement(node, GUMBO_TAG_NOSCRIPT)) {
            readable = false;
            return false;
        }
        return true;
    });
    if (!readable)
        return std::nullopt;
    walk(root, [&](const GumboNode* node) {
        if (!isHtmlElement(node, GUMBO_TAG_BASE))
            return true;
        const GumboAttribute* href = gumbo_get_attribute(&node->v.element.attributes, "href");
        if (!href)
            return true;
        const std::optional<std::string> resolved = ResolveUrl(href->value, *documentUrl, PageEncoding::Utf8);
        readable = resolved.has_value();
        if (resolved)
            base = *resolved;
        return false;
    });
    if (!readable)
        return std::nullopt;

    const PageEncoding encoding = sniffed.encoding;
    const Rewrite whole = [&](const GumboNode* element, const GumboAttribute* attribute, std::string& value) {
        const bool link = (isHtmlElement(element, GUMBO_TAG_A) || isHtmlElement(element, GUMBO_TAG_AREA)) &&
                          attribute->attr_namespace == GUMBO_ATTR_NAMESPACE_NONE &&
                          std::string_view(attribute->name) == "href";
        const bool image = isHtmlElement(element, GUMBO_TAG_IMG) &&
                           attribute->attr_namespace == GUMBO_ATTR_NAMESPACE_NONE &&
                           std::string_view(attribute->name) == "src";
        if (!link && !image)
            return true;
        std::string_view trimmed = value;
        auto htmlSpace = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\f' || c == '\r'; };
        while (!trimmed.empty() && htmlSpace(trimmed.front()))
            trimmed.remove_prefix(1);
        while (!trimmed.empty() && htmlSpace(trimmed.back()))
            trimmed.remove_suffix(1);
        std::optional<std::string> resolved = ResolveUrl(trimmed, base, encoding);
        if (!resolved)
            return false;
        value = std::move(*resolved);
        return true;
    };
    std::string out;
    if (!serializeChildren(out, root->v.element.children, whole))
        return std::nullopt;
    return Utf8ToGbk(out);
}

} // namespace vexory
