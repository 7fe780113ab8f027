#pragma once

// Colours the markers of a formula box as the user types: field markers blue,
// index markers dark red, chain markers purple (each with a red opening and
// closing), wildcards red and notes green. The pseudo-code box shows field
// markers only. A note may run over several lines.

#include <QSyntaxHighlighter>

namespace vexory {

class MarkerHighlighter : public QSyntaxHighlighter
{
public:
    MarkerHighlighter(QTextDocument* document, bool formulaBox);

protected:
    void highlightBlock(const QString& text) override;

private:
    bool m_formulaBox;
};

} // namespace vexory
