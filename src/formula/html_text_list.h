#pragma once

// A page text split into a tree of chunks: text runs, whole elements (opening tag
// through its balancing closing tag) and lone tags. Index paths of grab formulas
// address its nodes. Chunks are views into one copy of the text that the whole
// tree shares, so a deep tree costs no copies.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace vexory {

class TagScanner;

using IndexPath = std::vector<int32_t>;

class THtmlTextList
{
public:
    THtmlTextList();
    ~THtmlTextList();
    THtmlTextList(const THtmlTextList&) = delete;
    THtmlTextList& operator=(const THtmlTextList&) = delete;

    size_t Count() const { return m_chunks.size(); }
    std::string_view Chunk(size_t i) const { return m_chunks[i]; }
    const THtmlTextList* Child(size_t i) const { return m_children[i].get(); }
    // The text the tree was built from (every chunk is a view into it).
    std::string_view SourceText() const;

    void ClearTree();
    // The whole tree of `text`.
    void Parse(std::string_view text);
    // Only the parts of the tree the paths need.
    void ParsePaths(std::string_view text, const std::vector<IndexPath>& paths);
    // ParsePaths, then the text of each path, joined by byte 0x07.
    std::string GetPathTexts(std::string_view text, const std::vector<IndexPath>& paths);

    // The text a path selects, from component `depth` on (empty beyond the path).
    std::string PathText(const IndexPath& path, size_t depth = 0) const;
    // All chunks concatenated.
    std::string JoinChunks() const;
    // The dotted path of the first chunk holding `text`, going down while it can; "0" for none.
    std::string PathOf(std::string_view text) const;
    // The level whose siblings repeat, for paths of marked stretches; -1 for none.
    int ChooseRepeatLevel(const std::vector<IndexPath>& paths) const;
    // One line per chunk, children indented below their opening tag.
    void DumpTree(std::vector<std::string>& lines, const std::string& prefix, std::string_view indent) const;

    // Splits `text` (a view into the scanner's text) into chunks: false, and no
    // chunks, when it cannot be split. `limit` < 0 means no limit.
    static bool SplitChunks(TagScanner& scanner, std::string_view text, std::vector<std::string_view>& chunks,
                            int limit);

private:
    struct Shared;

    bool splitNode(std::string_view text, int limit);
    void parsePaths(std::string_view text, const std::vector<IndexPath>& paths);
    void adopt(const std::shared_ptr<Shared>& shared);

    std::shared_ptr<Shared> m_shared;
    std::vector<std::string_view> m_chunks;
    std::vector<std::unique_ptr<THtmlTextList>> m_children;
};

// A path as written in an index marker: "2.-1.3" (a trailing "." allowed). False
// when a part is not a 32-bit integer.
bool ParseIndexPath(std::string_view text, IndexPath& path);
std::string FormatIndexPath(const IndexPath& path);

} // namespace vexory
