#include "formula/html_text_list.h"

#include "base/text_helpers.h"
#include "formula/markers.h"
#include "formula/tag_scanner.h"

#include <algorithm>
#include <optional>

namespace vexory {

// The text the tree was made from, and the scanner that matches tags in it.
struct THtmlTextList::Shared
{
    explicit Shared(std::string_view t) : text(t), scanner(text) {}
    std::string text;
    TagScanner scanner;
};

THtmlTextList::THtmlTextList() = default;

THtmlTextList::~THtmlTextList()
{
    ClearTree();
}

std::string_view THtmlTextList::SourceText() const
{
    return m_shared ? std::string_view(m_shared->text) : std::string_view();
}

// Frees the children level by level: a tree thousands of levels deep must not
// recurse through as many destructors.
void THtmlTextList::ClearTree()
{
    std::vector<std::unique_ptr<THtmlTextList>> pending;
    for (auto& child : m_children)
        if (child)
            pending.push_back(std::move(child));
    m_children.clear();
    m_chunks.clear();
    while (!pending.empty()) {
        std::unique_ptr<THtmlTextList> node = std::move(pending.back());
        pending.pop_back();
        for (auto& child : node->m_children)
            if (child)
                pending.push_back(std::move(child));
        node->m_children.clear();
    }
}

void THtmlTextList::adopt(const std::shared_ptr<Shared>& shared)
{
    m_shared = shared;
}

bool THtmlTextList::SplitChunks(TagScanner& scanner, std::string_view text, std::vector<std::string_view>& chunks,
                                int limit)
{
    chunks.clear();
    const size_t lo = static_cast<size_t>(text.data() - scanner.Text().data());
    const size_t hi = lo + text.size();
    const int n = static_cast<int>(text.size());
    auto add = [&](int from, int to) { // 1-based, inclusive from, exclusive to
        if (to > from)
            chunks.push_back(text.substr(static_cast<size_t>(from - 1), static_cast<size_t>(to - from)));
    };
    int b = 1;
    while (b <= n) {
        TagMatch tag = scanner.FindTag(lo, hi, "<", ">", true, b);
        if (!tag) {
            add(b, n + 1);
            break;
        }
        add(b, tag.pos);
        b = tag.pos;
        const std::string_view tagText = text.substr(static_cast<size_t>(tag.pos - 1), static_cast<size_t>(tag.len));
        const size_t blank = tagText.find(' ');
        const std::string_view name =
            blank != std::string_view::npos ? tagText.substr(0, blank) : tagText.substr(0, tagText.size() - 1);
        std::string closing = "</";
        closing += name.substr(1);
        closing += '>';
        TagMatch element = name.empty()
                               ? TagMatch{0, 0}
                               : scanner.FindBalanced(lo, hi, closing, b, false, static_cast<int>(name.size()));
        if (element) {
            if (element.pos == 1 && element.len == n) {
                // The text is one element: its content, without its own tags.
                add(tag.pos + tag.len, element.pos + element.len - static_cast<int>(closing.size()));
            } else {
                add(element.pos, element.pos + element.len);
            }
            b = element.pos + element.len;
            if (limit == 0) {
                add(b, n + 1);
                break;
            }
        } else {
            add(tag.pos, tag.pos + tag.len);
            b = tag.pos + tag.len;
        }
        if (limit > 0 && chunks.size() == static_cast<size_t>(limit)) {
            add(b, n + 1);
            break;
        }
    }
    if (chunks.size() >= 2 || (chunks.size() == 1 && chunks.front() != text))
        return true;
    chunks.clear();
    return false;
}

// Splits one level; a single wrapping element is looked through once.
bool THtmlTextList::splitNode(std::string_view text, int limit)
{
    ClearTree();
    if (!SplitChunks(m_shared->scanner, text, m_chunks, limit))
        return false;
    if (m_chunks.size() == 1) {
        std::vector<std::string_view> scratch;
        if (SplitChunks(m_shared->scanner, m_chunks.front(), scratch, limit) && scratch.size() >= 2) {
            // The chunks are views: they rebuild the chunk exactly when they follow each other to its end.
            bool whole =
                scratch.front().data() == m_chunks.front().data() &&
                scratch.back().data() + scratch.back().size() == m_chunks.front().data() + m_chunks.front().size();
            for (size_t i = 1; whole && i < scratch.size(); ++i)
                whole = scratch[i - 1].data() + scratch[i - 1].size() == scratch[i].data();
            if (whole)
                m_chunks = std::move(scratch);
        }
    }
    m_children.clear();
    m_children.resize(m_chunks.size());
    return true;
}

void THtmlTextList::Parse(std::string_view text)
{
    ClearTree();
    m_shared = std::make_shared<Shared>(text);
    if (!splitNode(m_shared->text, -1))
        return;
    // Expand level by level with a work list, so a deep page cannot exhaust the stack.
    std::vector<THtmlTextList*> work{this};
    while (!work.empty()) {
        THtmlTextList* list = work.back();
        work.pop_back();
        for (size_t i = 0; i < list->m_chunks.size(); ++i) {
            if (list->m_children[i])
                continue;
            auto child = std::make_unique<THtmlTextList>();
            child->adopt(m_shared);
            if (child->splitNode(list->m_chunks[i], -1)) {
                work.push_back(child.get());
                list->m_children[i] = std::move(child);
            }
        }
    }
}

void THtmlTextList::ParsePaths(std::string_view text, const std::vector<IndexPath>& paths)
{
    ClearTree();
    m_shared = std::make_shared<Shared>(text);
    parsePaths(m_shared->text, paths);
}

void THtmlTextList::parsePaths(std::string_view text, const std::vector<IndexPath>& paths)
{
    int limit = 0;
    for (const auto& p : paths) {
        if (p.empty())
            continue;
        if (p.front() < 0) {
            limit = -1;
            break;
        }
        limit = std::max(limit, p.front());
    }
    if (!splitNode(text, limit) || limit == 0)
        return;

    // Group the paths by their first component, in order of first appearance.
    std::vector<std::pair<int32_t, std::vector<IndexPath>>> groups;
    for (const auto& p : paths) {
        if (p.empty())
            continue;
        auto it = std::find_if(groups.begin(), groups.end(), [&](const auto& g) { return g.first == p.front(); });
        if (it == groups.end()) {
            groups.emplace_back(p.front(), std::vector<IndexPath>{});
            it = groups.end() - 1;
        }
        if (p.size() > 1)
            it->second.emplace_back(p.begin() + 1, p.end());
    }
    auto expand = [&](size_t i, const std::vector<IndexPath>& tails) {
        auto child = std::make_unique<THtmlTextList>();
        child->adopt(m_shared);
        child->parsePaths(m_chunks[i], tails);
        m_children[i] = child->Count() > 0 ? std::move(child) : nullptr;
    };
    for (const auto& [component, tails] : groups) {
        if (tails.empty())
            continue;
        if (component < 0) {
            for (size_t i = 0; i < m_chunks.size(); ++i)
                expand(i, tails);
        } else if (component > 0 && m_chunks.size() >= static_cast<size_t>(component)) {
            expand(static_cast<size_t>(component - 1), tails);
        }
    }
}

std::string THtmlTextList::GetPathTexts(std::string_view text, const std::vector<IndexPath>& paths)
{
    ParsePaths(text, paths);
    std::string out;
    for (size_t i = 0; i < paths.size(); ++i) {
        if (i)
            out += kFieldSeparator;
        out += PathText(paths[i], 0);
    }
    return out;
}

std::string THtmlTextList::JoinChunks() const
{
    size_t size = 0;
    for (auto c : m_chunks)
        size += c.size();
    std::string out;
    out.reserve(size);
    for (auto c : m_chunks)
        out += c;
    return out;
}

std::string THtmlTextList::PathText(const IndexPath& path, size_t depth) const
{
    if (depth >= path.size())
        return {};
    const int32_t component = path[depth];
    if (component == 0)
        return JoinChunks();
    if (component > 0) {
        if (m_chunks.size() < static_cast<size_t>(component))
            return {};
        const size_t i = static_cast<size_t>(component - 1);
        std::string t = m_children[i] ? m_children[i]->PathText(path, depth + 1) : std::string();
        return t.empty() ? std::string(m_chunks[i]) : t;
    }
    std::string out;
    const int64_t k = -static_cast<int64_t>(component);
    for (int64_t i = k - 1; i < static_cast<int64_t>(m_chunks.size()); ++i) {
        if (i != k - 1)
            out += kBlockSeparator;
        const THtmlTextList* child = m_children[static_cast<size_t>(i)].get();
        if (!child)
            continue;
        std::string t = child->PathText(path, depth + 1);
        out += t.empty() ? child->JoinChunks() : t;
    }
    return out;
}

std::string THtmlTextList::PathOf(std::string_view text) const
{
    // Down the tree without recursion: a deep page has as many levels as it nests.
    std::string out;
    for (const THtmlTextList* list = this; list;) {
        const THtmlTextList* next = nullptr;
        for (size_t i = 0; i < list->m_chunks.size(); ++i) {
            if (list->m_chunks[i].find(text) == std::string_view::npos)
                continue;
            if (!out.empty())
                out += '.';
            out += std::to_string(i + 1);
            next = list->m_children[i].get();
            break;
        }
        list = next;
    }
    return out.empty() ? std::string("0") : out;
}

int THtmlTextList::ChooseRepeatLevel(const std::vector<IndexPath>& paths) const
{
    if (paths.empty())
        return -1;
    size_t m = paths.front().size();
    for (const auto& p : paths)
        m = std::min(m, p.size());
    size_t a = m;
    for (size_t level = 0; level < m; ++level) {
        bool same =
            std::all_of(paths.begin(), paths.end(), [&](const IndexPath& p) { return p[level] == paths[0][level]; });
        if (!same) {
            a = level + 1;
            break;
        }
    }
    if (a <= 1)
        return -1;
    int best = -1;
    int64_t bestScore = INT64_MIN;
    for (size_t i = 0; i + 2 <= a; ++i) {
        IndexPath probe = paths.front();
        probe[i] = -probe[i];
        const std::string text = PathText(probe, 0);
        int64_t count = 0;
        for (std::string_view part : SplitViews(text, kBlockSeparator))
            count += Trim(part).empty() ? 0 : 1;
        const int64_t score = (count + static_cast<int64_t>(i)) * 100;
        if (score >= bestScore) { // on a tie the deeper level wins
            bestScore = score;
            best = static_cast<int>(i);
        }
    }
    return best;
}

void THtmlTextList::DumpTree(std::vector<std::string>& lines, const std::string& prefix, std::string_view indent) const
{
    // An explicit stack of lists being dumped, each with its prefix, the next chunk
    // to visit and the closing line to add when it is done.
    struct Frame
    {
        const THtmlTextList* list;
        std::string prefix;
        size_t next;
        std::optional<std::string> closing;
    };
    std::vector<Frame> stack;
    stack.push_back({this, prefix, 0, std::nullopt});
    while (!stack.empty()) {
        Frame& frame = stack.back();
        if (frame.next >= frame.list->m_chunks.size()) {
            std::optional<std::string> closing = std::move(frame.closing);
            stack.pop_back();
            if (closing)
                lines.push_back(std::move(*closing));
            continue;
        }
        const size_t i = frame.next++;
        const std::string_view chunk = frame.list->m_chunks[i];
        const THtmlTextList* child = frame.list->m_children[i].get();
        const std::string framePrefix = frame.prefix;
        if (!child) {
            lines.push_back(framePrefix + std::string(chunk));
            continue;
        }
        const std::string joined = child->JoinChunks();
        if (joined == chunk) {
            stack.push_back({child, framePrefix, 0, std::nullopt});
            continue;
        }
        size_t at = chunk.find(">" + joined + "<");
        if (at != std::string_view::npos)
            ++at;
        else
            at = chunk.find(joined);
        const std::string deeper = framePrefix + std::string(indent);
        if (at == std::string_view::npos) {
            lines.push_back(framePrefix + std::string(chunk));
            stack.push_back({child, deeper, 0, std::nullopt});
            continue;
        }
        lines.push_back(framePrefix + std::string(chunk.substr(0, at)));
        stack.push_back({child, deeper, 0, framePrefix + std::string(chunk.substr(at + joined.size()))});
    }
}

bool ParseIndexPath(std::string_view text, IndexPath& path)
{
    path.clear();
    if (!text.empty() && text.back() == '.')
        text.remove_suffix(1);
    if (text.empty())
        return false;
    size_t start = 0;
    for (;;) {
        size_t dot = text.find('.', start);
        std::string_view part =
            text.substr(start, dot == std::string_view::npos ? std::string_view::npos : dot - start);
        if (!IsInteger(part))
            return false;
        path.push_back(StrToInt(part));
        if (dot == std::string_view::npos)
            return true;
        start = dot + 1;
    }
}

std::string FormatIndexPath(const IndexPath& path)
{
    std::string out;
    for (size_t i = 0; i < path.size(); ++i) {
        if (i)
            out += '.';
        out += std::to_string(path[i]);
    }
    return out;
}

} // namespace vexory
