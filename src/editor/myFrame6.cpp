#include "editor/myFrame6.h"

#include "editor/ui_texts.h"
#include "widgets/qt_text.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>

namespace vexory {

namespace {

QComboBox* dropDown(QWidget* parent, int left, int top, int width)
{
    auto* box = new QComboBox(parent);
    box->setEditable(false);
    box->setGeometry(left, top, width, 24);
    return box;
}

} // namespace

TFrame6::TFrame6(QWidget* parent) : QWidget(parent)
{
    resize(kWidth, kHeight);
    ComboBox0 = dropDown(this, 200, 2, 72);
    ComboBox0->addItems({texts::kAnd, texts::kOr});
    ComboBox1 = dropDown(this, 8, 32, 84);
    ComboBox2 = dropDown(this, 96, 32, 52);
    FillArithmetic(ComboBox2);
    ComboBox3 = dropDown(this, 152, 32, 84);
    ComboBox4 = dropDown(this, 240, 32, 76);
    FillComparison(ComboBox4);
    Edit1 = new QLineEdit(this);
    Edit1->setGeometry(320, 32, 100, 24);
    Button1 = new QPushButton(texts::kDelete, this);
    Button1->setObjectName(texts::kDelete);
    Button1->setGeometry(424, 31, 75, 26);
    Button1->setAutoDefault(false);
    connect(Button1, &QPushButton::clicked, this, [this] { emit OnDelete(this); });
}

void TFrame6::FillArithmetic(QComboBox* box)
{
    box->addItems({QString(), texts::kPlus, texts::kMinus, texts::kTimes, texts::kDividedBy});
}

void TFrame6::FillComparison(QComboBox* box)
{
    box->addItems({texts::kEquals, texts::kLessThan, texts::kGreaterThan, texts::kNotEqual, texts::kContains,
                   texts::kNotContains});
}

void TFrame6::SetFieldItems(QComboBox* box, const QStringList& items)
{
    const int index = box->currentIndex();
    box->clear();
    box->addItems(items);
    box->setCurrentIndex(index < box->count() ? index : -1);
}

ConditionRow TFrame6::Row() const
{
    ConditionRow row;
    row.conjunction = ComboBox0->currentIndex();
    row.field1 = ComboBox1->currentIndex();
    row.arithmetic = ComboBox2->currentIndex();
    row.field2 = ComboBox3->currentIndex();
    row.comparison = ComboBox4->currentIndex();
    row.value = ToGbk(Edit1->text());
    return row;
}

void TFrame6::SetRow(const ConditionRow& row)
{
    ComboBox0->setCurrentIndex(row.conjunction);
    ComboBox1->setCurrentIndex(row.field1 < ComboBox1->count() ? row.field1 : -1);
    ComboBox2->setCurrentIndex(row.arithmetic);
    ComboBox3->setCurrentIndex(row.field2 < ComboBox3->count() ? row.field2 : -1);
    ComboBox4->setCurrentIndex(row.comparison);
    Edit1->setText(FromGbk(row.value));
}

} // namespace vexory
