#include "editor/myFrame7.h"

#include "editor/ui_texts.h"
#include "widgets/hint_edit.h"

#include <QCheckBox>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QToolButton>

namespace vexory {

namespace {

// A flat button as wide as its caption (the widest one: "标记" also reads "字段符").
QToolButton* flatButton(const QString& text, QWidget* parent, const QString& widest = QString())
{
    auto* b = new QToolButton(parent);
    b->setText(text);
    b->setObjectName(text);
    b->setAutoRaise(true);
    const QFontMetrics metrics(b->font());
    b->setFixedSize(metrics.horizontalAdvance(widest.isEmpty() ? text : widest) + 8, TFrame7::kHeight);
    return b;
}

} // namespace

TFrame7::TFrame7(QWidget* parent) : QWidget(parent)
{
    setFixedHeight(kHeight);
    // A small font, so that the toolbar and the tabs share the tab row.
    QFont small = font();
    small.setPixelSize(11);
    setFont(small);
    Edit1 = new THintEdit(this);
    Edit1->setObjectName(QStringLiteral("find"));
    Edit1->SetHintText(texts::kFindHint);
    Edit1->setFrame(false);
    Edit1->setFixedSize(80, 17);

    UpDown1 = new QWidget(this);
    UpDown1->setFixedSize(28, kHeight);
    auto* arrows = new QHBoxLayout(UpDown1);
    arrows->setContentsMargins(0, 0, 0, 0);
    arrows->setSpacing(0);
    Left = new QToolButton(UpDown1);
    Left->setArrowType(Qt::LeftArrow);
    Right = new QToolButton(UpDown1);
    Right->setArrowType(Qt::RightArrow);
    for (QToolButton* b : {Left, Right}) {
        b->setAutoRaise(true);
        b->setFixedSize(14, kHeight);
        arrows->addWidget(b);
    }
    UpDown1->setEnabled(false);

    SpeedButton7 = flatButton(QStringLiteral("|"), this);
    SpeedButton7->setEnabled(false);
    SpeedButton2 = flatButton(texts::kMarkButton, this, texts::kMenuFieldMarker);
    SpeedButton3 = flatButton(texts::kClearMarks, this);
    SpeedButton8 = flatButton(QStringLiteral("|"), this);
    SpeedButton8->setEnabled(false);
    SpeedButton4 = flatButton(texts::kDeriveFormula, this);
    CheckBox1 = new QCheckBox(texts::kKeepTestResults, this);
    CheckBox1->setFixedSize(CheckBox1->sizeHint().width() + 4, kHeight);

    m_controls[0] = Edit1;
    m_controls[1] = UpDown1;
    m_controls[2] = SpeedButton7;
    m_controls[3] = SpeedButton2;
    m_controls[4] = SpeedButton3;
    m_controls[5] = SpeedButton8;
    m_controls[6] = SpeedButton4;
    m_controls[7] = CheckBox1;

    connect(Edit1, &QLineEdit::textChanged, this, [this] {
        // The arrows work only while there is something to find.
        UpDown1->setEnabled(!FindString().isEmpty());
    });
    connect(Edit1, &QLineEdit::returnPressed, this, [this] {
        if (!FindString().isEmpty())
            emit Find(true);
    });
    connect(Left, &QToolButton::clicked, this, [this] { emit Find(false); });
    connect(Right, &QToolButton::clicked, this, [this] { emit Find(true); });
    Layout({7});
}

QString TFrame7::FindString() const
{
    return Edit1->ShowsHint() ? QString() : Edit1->text();
}

void TFrame7::Layout(std::initializer_list<int> indexes)
{
    for (QWidget* w : m_controls)
        w->hide();
    int left = 0;
    for (int i : indexes) {
        QWidget* w = m_controls[i];
        w->move(left, i == 0 ? 1 : 0);
        left += w->width();
        w->show();
    }
    setFixedWidth(left);
}

} // namespace vexory
