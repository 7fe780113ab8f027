#include "browser/direct_page.h"

#include "base/ascii_fold.h"
#include "browser/page_encoding.h"
#include "browser/url_resolve.h"
#include "platform/codepage.h"

#include <gumbo.h>

#include <algorithm>
#include <csetjmp>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <mutex>
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

bool isElement(const GumboNode* node)
{
    return node->type == GUMBO_NODE_ELEMENT || node->type == GUMBO_NODE_TEMPLATE;
}

// The children of `container` as innerHTML writes them. A loop with a stack of the
// open elements, never recursion: a page nests as deep as it likes. False when the
// page nests deeper than `maxDepth`, when its text grows past `maxBytes`, or when
// `rewrite` refuses an attribute.
bool serializeChildren(std::string& out, const GumboNode* container, const Rewrite& rewrite, size_t maxDepth,
                       size_t maxBytes, DirectRefusal* why)
{
    struct Open
    {
        const GumboNode* element;
        unsigned next; // the child written next
        std::string name;
    };
    std::vector<Open> open;
    open.push_back({container, 0, {}});
    std::string value;
    while (!open.empty()) {
        Open& top = open.back();
        const GumboVector& children = top.element->v.element.children;
        if (top.next == children.length) {
            if (open.size() > 1) {
                out += "</";
                out += top.name;
                out += '>';
            }
            open.pop_back();
            continue;
        }
        const auto* node = static_cast<const GumboNode*>(children.data[top.next++]);
        switch (node->type) {
        case GUMBO_NODE_ELEMENT:
        case GUMBO_NODE_TEMPLATE: {
            if (open.size() > maxDepth) {
                *why = DirectRefusal::TooDeep;
                return false;
            }
            const GumboElement& e = node->v.element;
            std::string name = tagName(e);
            out += '<';
            out += name;
            for (unsigned i = 0; i < e.attributes.length; ++i) {
                const auto* a = static_cast<const GumboAttribute*>(e.attributes.data[i]);
                value = a->value;
                if (rewrite && !rewrite(node, a, value)) {
                    *why = DirectRefusal::Address;
                    return false;
                }
                out += ' ';
                out += attributeName(*a);
                out += "=\"";
                escape(out, value, true);
                out += '"';
            }
            out += '>';
            if (!(e.tag_namespace == GUMBO_NAMESPACE_HTML && isVoid(e.tag)))
                open.push_back({node, 0, std::move(name)});
            break;
        }
        case GUMBO_NODE_TEXT:
        case GUMBO_NODE_WHITESPACE:
        case GUMBO_NODE_CDATA:
            if (rawTextParent(node->parent))
                out += node->v.text.text;
            else
                escape(out, node->v.text.text, false);
            break;
        case GUMBO_NODE_COMMENT:
            out += "<!--";
            out += node->v.text.text;
            out += "-->";
            break;
        case GUMBO_NODE_DOCUMENT:
            break;
        }
        if (out.size() > maxBytes) {
            *why = DirectRefusal::TooLarge;
            return false;
        }
    }
    return true;
}

constexpr size_t kArenaChunk = 64 * 1024;
constexpr size_t kArenaAlign = alignof(std::max_align_t);
using ArenaChunk = std::unique_ptr<std::max_align_t[]>;

// Chunks of parses done, kept for the next parse in any thread. A chunk given back
// to the heap is given back to the system at the heap's next trim, and the next
// parse faults it in again page by page: in a run of hundreds of tasks read
// directly that cost more than the parse's own allocations. Kept up to two
// parses of a large listing (1700 rows, 100 KB: 36 chunks), as many as a
// desktop's cores have under way at once.
//
// Under AddressSanitizer nothing is kept: a chunk freed after each parse lets it
// see a read of a parse that is gone.
#if defined(__SANITIZE_ADDRESS__)
#define VEXORY_KEEP_NO_CHUNKS 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VEXORY_KEEP_NO_CHUNKS 1
#endif
#endif
class ChunkPool
{
public:
#ifdef VEXORY_KEEP_NO_CHUNKS
    static constexpr size_t kKept = 0;
#else
    static constexpr size_t kKept = 64; // 4 MB
#endif

    static ArenaChunk Take()
    {
        {
            std::lock_guard lock(s_mutex);
            if (!s_kept.empty()) {
                ArenaChunk chunk = std::move(s_kept.back());
                s_kept.pop_back();
                return chunk;
            }
        }
        return ArenaChunk(new std::max_align_t[kArenaChunk / kArenaAlign]);
    }
    static void Give(std::vector<ArenaChunk>& chunks)
    {
        std::lock_guard lock(s_mutex);
        while (!chunks.empty() && s_kept.size() < kKept) {
            s_kept.push_back(std::move(chunks.back()));
            chunks.pop_back();
        }
    }

private:
    static inline std::mutex s_mutex;
    static inline std::vector<ArenaChunk> s_kept;
};

// The parse's memory: tens of thousands of small blocks for a listing, all freed
// together. Taken from a few large chunks and given back at once, instead of
// through the heap one by one (which leaves a page's worth of scattered free
// blocks in every thread that parses).
//
// It also keeps the parse within its budget. Some markup makes the parser far
// slower than the page's size suggests (many attributes on one element, deep
// nesting: each step looks through all that came before) or makes it build far
// more than the page holds (misnested formatting elements cloned again and again).
// The parser allocates at every step of such work, so the allocator looks at the
// memory taken and, every so many blocks, at the thread's own processor time, and
// past either limit leaves the parse at once. The parser keeps nothing outside the
// arena, so the parse it leaves is simply dropped with the arena.
class ParseArena
{
public:
    ParseArena(size_t budgetBytes, long budgetCpuMs) : m_budgetBytes(budgetBytes)
    {
        m_deadline = threadCpuNs() + budgetCpuMs * 1000000LL;
    }
    ~ParseArena() { ChunkPool::Give(m_chunks); }
    ParseArena(const ParseArena&) = delete;
    ParseArena& operator=(const ParseArena&) = delete;

    static void* Allocate(void* self, size_t size)
    {
        auto* arena = static_cast<ParseArena*>(self);
        if (arena->over(size))
            std::longjmp(arena->m_escape, 1); // nothing here or in the parser has a destructor to run
        return arena->allocate(size);
    }
    static void Free(void*, void*) {}

    std::jmp_buf m_escape;

private:
    static constexpr size_t kChunk = kArenaChunk; // under the heap's mmap threshold: reused, not mapped anew
    static constexpr size_t kAlign = kArenaAlign;
    static constexpr unsigned kClockEvery = 256; // blocks between looks at the clock

    static long long threadCpuNs()
    {
        timespec now{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
        return now.tv_sec * 1000000000LL + now.tv_nsec;
    }

    bool over(size_t size)
    {
        m_taken += size;
        if (m_taken > m_budgetBytes)
            return true;
        return ++m_blocks % kClockEvery == 0 && threadCpuNs() > m_deadline;
    }

    void* allocate(size_t size)
    {
        size = (size + kAlign - 1) & ~(kAlign - 1);
        if (size > kChunk / 4) // a large block gets a chunk of its own
            return m_large.emplace_back(new std::max_align_t[size / kAlign]).get();
        if (m_left < size) {
            m_next = reinterpret_cast<char*>(m_chunks.emplace_back(ChunkPool::Take()).get());
            m_left = kChunk;
        }
        void* block = m_next;
        m_next += size;
        m_left -= size;
        return block;
    }

    std::vector<ArenaChunk> m_chunks; // of kChunk bytes each
    std::vector<ArenaChunk> m_large;
    char* m_next = nullptr;
    size_t m_left = 0;
    size_t m_budgetBytes;
    size_t m_taken = 0;
    unsigned m_blocks = 0;
    long long m_deadline;
};

// A page parsed within its budget; `output` is null when the parse went past it.
struct Parsed
{
    explicit Parsed(std::string_view html) : text(html), arena(budgetBytes(html), kDirectParseCpuMs) { parse(); }
    Parsed(const Parsed&) = delete;
    Parsed& operator=(const Parsed&) = delete;

    std::string text; // the parse points into it
    ParseArena arena; // holds the parse; freed with it
    GumboOutput* output = nullptr;

private:
    static size_t budgetBytes(std::string_view html)
    {
        const auto tags = static_cast<size_t>(std::count(html.begin(), html.end(), '<'));
        return std::min(kMaxParseBytes, (1 << 20) + 4 * html.size() + kParseBytesPerTag * tags);
    }

    void parse()
    {
        GumboOptions options = kGumboDefaultOptions;
        options.allocator = &ParseArena::Allocate;
        options.deallocator = &ParseArena::Free;
        options.userdata = &arena;
        options.max_errors = 0; // parse errors are not kept: nobody reads them
        if (setjmp(arena.m_escape) == 0)
            output = gumbo_parse_with_options(&options, text.data(), text.size());
        else
            output = nullptr; // past the budget
    }
};

bool isHtmlElement(const GumboNode* node, GumboTag tag)
{
    return isElement(node) && node->v.element.tag == tag && node->v.element.tag_namespace == GUMBO_NAMESPACE_HTML;
}

// Visits the elements in tree order (a loop, not recursion); false from `visit`
// ends the walk.
void walk(const GumboNode* root, const std::function<bool(const GumboNode*)>& visit)
{
    std::vector<std::pair<const GumboNode*, unsigned>> stack;
    if (!isElement(root) || !visit(root))
        return;
    stack.emplace_back(root, 0);
    while (!stack.empty()) {
        auto& [element, next] = stack.back();
        const GumboVector& children = element->v.element.children;
        if (next == children.length) {
            stack.pop_back();
            continue;
        }
        const auto* child = static_cast<const GumboNode*>(children.data[next++]);
        if (!isElement(child))
            continue;
        if (!visit(child))
            return;
        stack.emplace_back(child, 0);
    }
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
    DirectRefusal why = DirectRefusal::None;
    if (parsed.output)
        serializeChildren(out, parsed.output->root, {}, SIZE_MAX, SIZE_MAX, &why);
    return out;
}

std::optional<std::string> DirectPageText(std::string_view bytes, std::string_view contentType, std::string_view url,
                                          DirectRefusal* why)
{
    DirectRefusal ignored = DirectRefusal::None;
    if (!why)
        why = &ignored;
    *why = DirectRefusal::None;
    auto refuse = [why](DirectRefusal reason) {
        *why = reason;
        return std::nullopt;
    };
    if (!htmlContentType(contentType))
        return refuse(DirectRefusal::NotHtml); // other types a browser shows in a page of its own making
    if (bytes.size() > kMaxDirectPageBytes)
        return refuse(DirectRefusal::TooLarge);
    const SniffedEncoding sniffed = SniffEncoding(bytes, contentType);
    std::optional<std::string> utf8 = DecodeToUtf8(bytes.substr(sniffed.bomLength), sniffed.encoding);
    if (!utf8)
        return refuse(DirectRefusal::Encoding);
    const std::optional<std::string> documentUrl = ResolveUrl(url, {});
    if (!documentUrl)
        return refuse(DirectRefusal::Address);
    const Parsed parsed(*utf8);
    std::string().swap(*utf8);
    if (!parsed.output)
        return refuse(DirectRefusal::OverBudget);
    const GumboNode* root = parsed.output->root;

    bool scripted = false;
    walk(root, [&](const GumboNode* node) {
        scripted = isHtmlElement(node, GUMBO_TAG_NOSCRIPT);
        return !scripted;
    });
    if (scripted)
        return refuse(DirectRefusal::Scripted);
    // The base of the links: the first <base href>, resolved against the page's address.
    std::string base = *documentUrl;
    bool readable = true;
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
        return refuse(DirectRefusal::Address);
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
    // The text may outgrow the page (a parser clones misnested elements), within reason.
    if (!serializeChildren(out, root, whole, kMaxDirectDepth, 2 * kMaxDirectPageBytes, why))
        return std::nullopt;
    return Utf8ToGbk(out);
}

} // namespace vexory
