#pragma once

// The names of the fields marked on the page: beside each marker's name ("aa", as
// the pseudo-code shows it) an edit with the name its field gets in the formula, and
// so in the log, the push and the channels' messages ("名称=…"). Marking fills it,
// each field named after its column's header where the page has one, else "字段1",
// "字段2"...; a name the user typed stays with its field while he marks on.

#include <QScrollArea>

#include <string>
#include <utility>
#include <vector>

class QLineEdit;

namespace vexory {

class FieldNameRow : public QScrollArea
{
    Q_OBJECT
public:
    explicit FieldNameRow(QWidget* parent = nullptr);

    // The page's marked fields: their markers in order, with their columns' header
    // texts (none given, or fewer than markers: every field is numbered). Hidden
    // without markers.
    void SetFields(const std::vector<std::string>& markers, const QStringList& headers);
    // Each marker with its field's name (code page 936), as the formula takes them.
    std::vector<std::pair<std::string, std::string>> Names() const;
    int Count() const { return static_cast<int>(m_fields.size()); }
    QLineEdit* Edit(int index) const { return m_fields[static_cast<size_t>(index)].edit; }

private:
    struct Field
    {
        std::string marker;
        QString header;
        QString given; // the name marking gave it, to tell what the user typed
        QLineEdit* edit = nullptr;
    };
    std::vector<Field> m_fields;
};

} // namespace vexory
