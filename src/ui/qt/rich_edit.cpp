// The rich edit facility over QTextEdit: Qt reads no RTF, so the reader's paragraphs and
// runs are turned into text blocks and character formats here.
#include "ui/qt/rich_edit.h"

#include <QByteArray>
#include <QFont>
#include <QFrame>
#include <QString>
#include <QTextBlockFormat>
#include <QTextCharFormat>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextEdit>
#include <QTextOption>

#include <string_view>

#include "ui/rtf_reader.h"

namespace kestrine {
namespace {

// Indents are in twips; the document lays out in pixels of the edit's screen.
void FillDocument(QTextDocument* document, const std::vector<RtfParagraph>& paragraphs, double pixelsPerTwip)
{
    document->clear();
    QTextCursor cursor(document);
    bool first = true;
    for (const RtfParagraph& paragraph : paragraphs) {
        QTextBlockFormat block;
        block.setAlignment(paragraph.centred ? Qt::AlignHCenter : Qt::AlignLeft);
        // Left and right indents hold for every line; the first line moves by its own
        // indent (a hanging one when negative), and a tab there reaches the left indent,
        // where the wrapped lines start. Tab positions count from the start of the line,
        // which for the first line is the hanging indent's width left of the left indent.
        const double left = paragraph.indents.left * pixelsPerTwip;
        const double firstLine = paragraph.indents.first * pixelsPerTwip;
        block.setLeftMargin(left);
        block.setRightMargin(paragraph.indents.right * pixelsPerTwip);
        block.setTextIndent(firstLine);
        if (paragraph.indents.first < 0 && left > 0) block.setTabPositions({QTextOption::Tab(-firstLine, QTextOption::LeftTab)});
        block.setBottomMargin(paragraph.spaceAfter * pixelsPerTwip);
        if (first) {
            cursor.setBlockFormat(block);  // the empty document's one block
            first = false;
        } else {
            cursor.insertBlock(block);
        }
        for (const RtfRun& run : paragraph.runs) {
            QTextCharFormat format;
            format.setFontWeight(run.bold ? QFont::Bold : QFont::Normal);
            format.setFontItalic(run.italic);
            format.setFontUnderline(run.underline);
            format.setFontPointSize(run.halfPoints / 2.0);
            cursor.insertText(QString::fromUtf16(run.text.data(), static_cast<qsizetype>(run.text.size())), format);
        }
    }
}

}  // namespace

QTextEdit* CreateRichEdit(QWidget* parent)
{
    auto* edit = new QTextEdit(parent);
    edit->setReadOnly(false);
    edit->setLineWrapMode(QTextEdit::WidgetWidth);
    edit->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    edit->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    edit->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    edit->setTabChangesFocus(true);  // Enter still inserts a line break: QTextEdit takes it
    return edit;
}

void SetRichEditText(QTextEdit* edit, const QByteArray& text)
{
    edit->setUndoRedoEnabled(false);
    edit->clear();
    edit->setCurrentCharFormat(QTextCharFormat());  // no formatting carried over from the old text
    const std::string_view bytes(text.constData(), static_cast<size_t>(text.size()));
    if (IsRtf(bytes)) {
        FillDocument(edit->document(), ReadRtf(bytes), edit->logicalDpiX() / 1440.0);
    } else {
        edit->setPlainText(QString::fromUtf8(text));
    }
    edit->setUndoRedoEnabled(true);
    edit->moveCursor(QTextCursor::Start);
}

}  // namespace kestrine
