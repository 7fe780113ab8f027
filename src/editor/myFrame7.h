#pragma once

// TFrame7: the marking toolbar on the editor's tab row: a find box with its arrows,
// "标记" (or "字段符"), "清除", "提取公式" and "保存测试结果". Which controls show
// depends on the active tab; Layout places the listed ones side by side.

#include <QWidget>

#include <initializer_list>

class QCheckBox;
class QToolButton;

namespace vexory {

class THintEdit;

class TFrame7 : public QWidget
{
    Q_OBJECT
public:
    static constexpr int kHeight = 19;

    explicit TFrame7(QWidget* parent = nullptr);

    // Hides every control not listed and places the listed ones from the left, in order.
    void Layout(std::initializer_list<int> indexes);
    // The control at a layout index (0 find box ... 7 "保存测试结果").
    QWidget* Control(int index) const { return m_controls[index]; }
    // What the find box holds (never its hint).
    QString FindString() const;

    THintEdit* Edit1 = nullptr;        // 0 find box
    QWidget* UpDown1 = nullptr;        // 1 arrows
    QToolButton* Left = nullptr;       //   its left arrow: find backward
    QToolButton* Right = nullptr;      //   its right arrow: find forward
    QToolButton* SpeedButton7 = nullptr; // 2 separator
    QToolButton* SpeedButton2 = nullptr; // 3 "标记" / "字段符"
    QToolButton* SpeedButton3 = nullptr; // 4 "清除"
    QToolButton* SpeedButton8 = nullptr; // 5 separator
    QToolButton* SpeedButton4 = nullptr; // 6 "提取公式"
    QCheckBox* CheckBox1 = nullptr;    // 7 "保存测试结果"

signals:
    // Enter in the find box (forward) or an arrow.
    void Find(bool forward);

private:
    QWidget* m_controls[8] = {};
};

} // namespace vexory
