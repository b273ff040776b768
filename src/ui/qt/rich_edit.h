// The rich edit facility: a framed, scrolling, editable text area that shows either an
// RTF document (through the RTF reader) or plain text. Used by the About box for the licence.
#pragma once

class QByteArray;
class QTextEdit;
class QWidget;

namespace kestrine {

// An editable multi-line text area with a frame and a vertical scroll bar. Enter breaks the
// line; Tab moves the focus on. What the user types is never read back.
QTextEdit* CreateRichEdit(QWidget* parent);

// Replaces the whole content, outside the undo history: an RTF document (IsRtf) is shown
// with its paragraphs, alignment, bold, italic, underline and sizes; anything else is
// shown as plain UTF-8 text. The view returns to the top.
void SetRichEditText(QTextEdit* edit, const QByteArray& text);

}  // namespace kestrine
