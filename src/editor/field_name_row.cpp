#include "editor/field_name_row.h"

#include "editor/editor_rules.h"
#include "editor/ui_texts.h"
#include "widgets/qt_text.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>

namespace vexory {

FieldNameRow::FieldNameRow(QWidget* parent) : QScrollArea(parent)
{
    setObjectName(QStringLiteral("FieldNameRow"));
    setFrameShape(QFrame::NoFrame);
    setWidgetResizable(true);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setToolTip(texts::kFieldNamesHint);
    hide();
}

void FieldNameRow::SetFields(const std::vector<std::string>& markers, const QStringList& headers)
{
    const bool headed = headers.size() == static_cast<qsizetype>(markers.size());
    std::vector<std::string> wanted;
    for (size_t i = 0; i < markers.size(); ++i)
        wanted.push_back(headed ? ToGbk(headers[static_cast<qsizetype>(i)]) : std::string());
    const std::vector<std::string> defaults = FieldNames(wanted);

    // What the user typed for a field stays with it: found by its column's header,
    // or by its marker where the page has no header.
    std::vector<Field> old = std::move(m_fields);
    m_fields.clear();
    auto* row = new QWidget;
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(4, 2, 4, 2);
    layout->setSpacing(4);
    layout->addWidget(new QLabel(texts::kFieldNamesLabel, row));
    for (size_t i = 0; i < markers.size(); ++i) {
        Field f{markers[i], headed ? headers[static_cast<qsizetype>(i)] : QString(), FromGbk(defaults[i]), nullptr};
        QString text = f.given;
        for (Field& o : old) {
            const bool same = f.header.isEmpty() ? o.header.isEmpty() && o.marker == f.marker : o.header == f.header;
            if (o.edit && same) {
                if (o.edit->text() != o.given)
                    text = o.edit->text();
                o.edit = nullptr; // taken
                break;
            }
        }
        auto* marker = new QLabel(FromGbk(f.marker), row);
        marker->setStyleSheet(QStringLiteral("background-color: rgb(123,236,179); padding: 0 3px;"));
        f.edit = new QLineEdit(text, row);
        f.edit->setObjectName(QStringLiteral("FieldName%1").arg(i + 1));
        f.edit->setFixedWidth(96);
        f.edit->setPlaceholderText(f.given);
        layout->addWidget(marker);
        layout->addWidget(f.edit);
        m_fields.push_back(std::move(f));
    }
    layout->addStretch(1);
    setWidget(row); // the old row and its edits go
    setFixedHeight(row->sizeHint().height() + 2);
    setVisible(!m_fields.empty());
}

std::vector<std::pair<std::string, std::string>> FieldNameRow::Names() const
{
    std::vector<std::string> wanted;
    for (const Field& f : m_fields)
        wanted.push_back(ToGbk(f.edit->text()));
    const std::vector<std::string> names = FieldNames(wanted);
    std::vector<std::pair<std::string, std::string>> out;
    for (size_t i = 0; i < m_fields.size(); ++i)
        out.emplace_back(m_fields[i].marker, names[i]);
    return out;
}

} // namespace vexory
