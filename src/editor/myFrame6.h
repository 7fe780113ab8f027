#pragma once

// TFrame6: one added verification condition row: a conjunction on its top line,
// then first field, arithmetic, second field, comparison, value and "删除".

#include "editor/verify_rows.h"

#include <QWidget>

class QComboBox;
class QLineEdit;
class QPushButton;

namespace vexory {

class TFrame6 : public QWidget
{
    Q_OBJECT
public:
    static constexpr int kWidth = 507;
    static constexpr int kHeight = 62;

    explicit TFrame6(QWidget* parent = nullptr);

    QComboBox* ComboBox0 = nullptr; // conjunction
    QComboBox* ComboBox1 = nullptr; // first field
    QComboBox* ComboBox2 = nullptr; // arithmetic
    QComboBox* ComboBox3 = nullptr; // second field
    QComboBox* ComboBox4 = nullptr; // comparison
    QLineEdit* Edit1 = nullptr;     // value
    QPushButton* Button1 = nullptr; // "删除"

    // The row's index in the panel's array.
    int Tag = 0;

    ConditionRow Row() const;
    void SetRow(const ConditionRow& row);

    // The boxes that the first row shares with an added one, filled the same way.
    static void FillArithmetic(QComboBox* box);
    static void FillComparison(QComboBox* box);
    // Replaces a field box's items, keeping its index.
    static void SetFieldItems(QComboBox* box, const QStringList& items);

signals:
    void OnDelete(vexory::TFrame6* row);
};

} // namespace vexory
