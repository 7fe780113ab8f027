#include "editor/myFrame5.h"

#include "base/text_helpers.h"
#include "browser/webengine_browser.h"
#include "editor/Unit3.h"
#include "editor/editor_rules.h"
#include "editor/field_name_row.h"
#include "editor/gbk_texts.h"
#include "editor/myFrame6.h"
#include "editor/myFrame7.h"
#include "editor/pseudo_code.h"
#include "editor/test_run.h"
#include "editor/ui_texts.h"
#include "formula/grab_formula.h"
#include "formula/marker_search.h"
#include "formula/markers.h"
#include "widgets/hint_edit.h"
#include "widgets/message_box.h"
#include "widgets/qt_text.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QLineEdit>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTabWidget>
#include <QTextBlock>
#include <QTextEdit>

// The right half's work: test runs, marking the page, the pseudo-code, derivation and find.

namespace vexory {

// Page marking, derivation and test runs ------------------------------------

WebEngineBrowser* TFrame5::browser() const
{
    return m_wizard ? m_wizard->Browser() : nullptr;
}

void TFrame5::addLine(std::string_view text)
{
    QString line = FromGbk(text);
    line.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    QTextCursor end(Memo1->document());
    end.movePosition(QTextCursor::End);
    end.insertText(line + QLatin1Char('\n'));
}

void TFrame5::RunTest(int kind)
{
    Memo1->clear();
    const EditorFields f = fields();
    const TestInput input{.kind = kind,
                          .name = f.name,
                          .guide = f.guide,
                          .page = f.page,
                          .element = f.element,
                          .timeout = f.timeout,
                          .grabBox = f.grabBox,
                          .clearTags = f.clearTags,
                          .verify = f.verify};

    TestCallbacks callbacks;
    callbacks.add = [this](std::string_view text) { addLine(text); };
    callbacks.repair = [this](std::string_view message) { MessageBox::Information(this, FromGbk(message)); };
    callbacks.pseudoCode = [this, &input, kind](uint32_t timeoutMs) {
        if (kind == 0 || PseudoCode.empty()) {
            // The wizard loads the page and sets the pseudo-code when it reads the source.
            SetTabShown(TabSheet2, false);
            SetTabShown(TabSheet1, false);
            PseudoCode.clear();
            if (m_wizard) {
                m_wizard->SetBrowserMode();
                m_wizard->PrepareWizard(TypedAddress(input.guide), TypedAddress(input.page), timeoutMs,
                                        StripSpace(input.element));
                m_wizard->exec();
            }
            updateFieldNames(); // a page read anew has no marks
        } else if (WebEngineBrowser* b = browser()) {
            // The page already in the browser, without the marks: said, since the
            // site may have changed since it was loaded.
            addLine(std::string(texts::kTestsUseLoadedPage) + "\r\n");
            PseudoCode = PlainPseudoCode(b->PageSource());
        }
        if (!PseudoCode.empty() && !TabShown(TabSheet2)) {
            SetTabShown(TabSheet2, true);
            PageControl1->setCurrentWidget(TabSheet2);
            ShowPseudoCode(PseudoCode);
        }
        return PseudoCode;
    };
    const TestEnd end = vexory::RunTest(input, callbacks);
    if (end == TestEnd::PageShown && TabShown(TabSheet1))
        PageControl1->setCurrentWidget(TabSheet1);
    Memo1->moveCursor(QTextCursor::End);
    Memo1->ensureCursorVisible();
    if (kind != 0)
        PageControl1->setCurrentWidget(TabSheet3);
}

void TFrame5::ShowPseudoCode(const std::string& pseudoCode)
{
    RichEdit2->setPlainText(FromBoxText(pseudoCode));
}

void TFrame5::MarkClick()
{
    if (PageControl1->currentWidget() == TabSheet2) {
        insertMarkerAt(RichEdit2, FieldMarker(NextFieldName()));
        return;
    }
    WebEngineBrowser* b = browser();
    if (!b || b->SelectionLength() == 0) {
        MessageBox::Information(this, texts::kSelectFirst);
        return;
    }
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const bool marked = b->MarkSelection();
    b->ClearSelection();
    const std::string source = marked ? b->PageSource() : std::string();
    if (!source.empty()) {
        PseudoCode = MakePseudoCode(source);
        updateFieldNames();
        ShowPseudoCodeWhenSeen();
    }
    QApplication::restoreOverrideCursor();
    if (!marked)
        MessageBox::Information(this, texts::kMarkFailed);
    else if (source.empty())
        MessageBox::Information(this, texts::kMarkedSourceFailed);
}

void TFrame5::ShowPseudoCodeWhenSeen()
{
    m_pseudoCodeUnseen = true;
    if (PageControl1->currentWidget() != TabSheet2)
        return;
    m_pseudoCodeUnseen = false;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    ShowPseudoCode(PseudoCode);
    const QString marker = FieldMarker(CurrentFieldName());
    const qsizetype at = RichEdit2->toPlainText().indexOf(marker);
    if (at >= 0) {
        QTextCursor cursor = RichEdit2->textCursor();
        cursor.setPosition(static_cast<int>(at + marker.size()));
        RichEdit2->setTextCursor(cursor);
        CentreCaretLine();
    }
    QApplication::restoreOverrideCursor();
}

void TFrame5::ClearMarksClick()
{
    WebEngineBrowser* b = browser();
    if (!b)
        return;
    b->RemoveMarks(kMarkColour);
    PseudoCode = MakePseudoCode(b->PageSource());
    updateFieldNames();
    ShowPseudoCodeWhenSeen();
}

void TFrame5::updateFieldNames()
{
    std::vector<std::string> markers;
    for (const WildMatch m : FindAllMarkers(PseudoCode, FieldPattern(), IsValidFieldMarker))
        markers.emplace_back(MarkerContent(Matched(PseudoCode, m), FieldMark));
    WebEngineBrowser* b = markers.empty() ? nullptr : browser();
    FieldNames1->SetFields(markers, b ? b->MarkHeaders(kMarkColour) : QStringList());
}

void TFrame5::DeriveClick()
{
    std::string formula;
    // The box shows `PseudoCode` once seen; until then that is its text.
    // The marked fields get the names the row gives them.
    const std::string pseudoCode =
        RenameFieldMarkers(m_pseudoCodeUnseen ? PseudoCode : BoxText(RichEdit2->toPlainText()), FieldNames1->Names());
    switch (DeriveGrabFormula(pseudoCode, formula)) {
    case DeriveResult::NoFieldMarker:
        if (PageControl1->currentWidget() == TabSheet2)
            MessageBox::Information(this, texts::kAddFieldFirst);
        else if (PageControl1->currentWidget() == TabSheet1)
            MessageBox::Information(this, texts::kMarkFirst);
        return;
    case DeriveResult::Failed:
        MessageBox::Information(this, texts::kDeriveFailed);
        return;
    case DeriveResult::Done:
        break;
    }
    const QString text = FromGbk(formula);
    if (RichEdit1->toPlainText().trimmed().isEmpty()) {
        RichEdit1->setPlainText(text);
        RefreshFieldLists(formula); // the condition rows offer the new fields at once
        return;
    }
    switch (MessageBox::Question(this, texts::kDeriveReplace.arg(text),
                                 QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel)) {
    case QMessageBox::Yes:
        RichEdit1->setPlainText(text);
        break;
    case QMessageBox::No: {
        QTextCursor end(RichEdit1->document());
        end.movePosition(QTextCursor::End);
        end.insertText(QStringLiteral("\n") + text);
        break;
    }
    default:
        return;
    }
    RefreshFieldLists(BoxText(RichEdit1->toPlainText()));
}

qsizetype TFrame5::FindWrapped(const QString& text, const QString& needle, qsizetype selectionStart,
                               qsizetype selectionEnd, bool forward)
{
    if (needle.isEmpty())
        return -1;
    if (forward) {
        const qsizetype at = text.indexOf(needle, selectionEnd, Qt::CaseInsensitive);
        return at >= 0 ? at : text.indexOf(needle, 0, Qt::CaseInsensitive);
    }
    // The last match that begins before the selection, else the last one of all.
    const qsizetype at = selectionStart > 0 ? text.lastIndexOf(needle, selectionStart - 1, Qt::CaseInsensitive) : -1;
    return at >= 0 ? at : text.lastIndexOf(needle, -1, Qt::CaseInsensitive);
}

void TFrame5::FindClick(bool forward)
{
    const QString needle = Frame7->FindString();
    if (needle.isEmpty())
        return;
    if (PageControl1->currentWidget() == TabSheet2) {
        RichEdit2->setFocus();
        QTextCursor cursor = RichEdit2->textCursor();
        const qsizetype at =
            FindWrapped(RichEdit2->toPlainText(), needle, cursor.selectionStart(), cursor.selectionEnd(), forward);
        if (at < 0)
            return;
        cursor.setPosition(static_cast<int>(at));
        cursor.setPosition(static_cast<int>(at + needle.size()), QTextCursor::KeepAnchor);
        RichEdit2->setTextCursor(cursor);
        RichEdit2->ensureCursorVisible();
        CentreCaretLine();
        return;
    }
    if (WebEngineBrowser* b = browser()) {
        if (b->View())
            b->View()->setFocus();
        b->FindText(ToGbk(needle), forward);
    }
}

void TFrame5::CentreCaretLine()
{
    // Measured now, from the box as laid out: a height taken before the box was
    // first shown would put the caret line just out of sight.
    QWidget* viewport = RichEdit2->viewport();
    const int lineHeight = std::max(1, QFontMetrics(RichEdit2->font()).lineSpacing());
    VisibleLines = std::max(1, viewport->height() / lineHeight);
    const QRect caret = RichEdit2->cursorRect();
    const int margin = std::min(3 * lineHeight, viewport->height() / 4);
    if (caret.top() >= margin && caret.bottom() <= viewport->height() - margin)
        return;
    QScrollBar* bar = RichEdit2->verticalScrollBar();
    bar->setValue(bar->value() + caret.center().y() - viewport->height() / 2);
}

void TFrame5::SyncSelection()
{
    WebEngineBrowser* b = browser();
    if (!b)
        return;
    const std::pair<int, int> bookmark = b->SelectionBookmark();
    if (bookmark.first < 0)
        return;
    const int length = b->SelectionLength();
    const std::string temporary = "background-color:" + std::string(kTemporaryColour);
    b->MarkSelection(temporary);
    const std::string source = b->PageSource();
    b->RemoveMarks(std::string(kTemporaryColour));
    b->RestoreSelection(bookmark);

    QString text = FromBoxText(SelectionPseudoCode(source));
    const QString placeholder = QString::fromLatin1(kSelectionPlaceholder.data(), kSelectionPlaceholder.size());
    const qsizetype start = text.indexOf(placeholder);
    if (start < 0)
        return;
    text.remove(placeholder);
    RichEdit2->setPlainText(text);
    m_pseudoCodeUnseen = false;
    const size_t end = SelectionEnd(
        std::u16string_view(reinterpret_cast<const char16_t*>(text.utf16()), static_cast<size_t>(text.size())),
        static_cast<size_t>(start), length);
    QTextCursor cursor = RichEdit2->textCursor();
    cursor.setPosition(static_cast<int>(start));
    cursor.setPosition(static_cast<int>(end), QTextCursor::KeepAnchor);
    RichEdit2->setTextCursor(cursor);
    CentreCaretLine();
}

} // namespace vexory
