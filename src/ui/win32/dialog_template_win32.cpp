// The in-memory dialog template (DLGTEMPLATEEX) of a portable DialogTemplate: the frame's
// and each control's window class and style, in the dialog manager's layout.
#include "ui/win32/win32_dialog.h"

#include <commctrl.h>
#include <richedit.h>

#include "ui/resource_ids.h"

namespace kestrine {

namespace {

// Command numbers of the standard control classes in a dialog template.
constexpr WORD BUTTON_CLASS = 0x0080;
constexpr WORD EDIT_CLASS = 0x0081;
constexpr WORD STATIC_CLASS = 0x0082;
constexpr WORD COMBOBOX_CLASS = 0x0085;

class TemplateWriter {
public:
    void Word(WORD value) { m_words.push_back(value); }
    void Dword(DWORD value)
    {
        Word(LOWORD(value));
        Word(HIWORD(value));
    }
    void Short(int value) { Word(static_cast<WORD>(static_cast<SHORT>(value))); }
    void String(std::wstring_view text)
    {
        m_words.insert(m_words.end(), text.begin(), text.end());
        Word(0);
    }
    void Ordinal(WORD value)
    {
        Word(0xFFFF);
        Word(value);
    }
    void AlignDword()
    {
        if (m_words.size() % 2 != 0) Word(0);
    }
    std::vector<WORD> Take() { return std::move(m_words); }

private:
    std::vector<WORD> m_words;
};

struct FrameStyle {
    DWORD style;
    DWORD exStyle;
};

FrameStyle StyleOf(DialogFrame frame)
{
    // Windows other than the detail windows (which are placed by their cascade) open
    // centred on their owner, or on the screen.
    const DWORD common = WS_POPUP | WS_CAPTION | DS_SETFONT;
    const DWORD centred = common | DS_CENTER;
    switch (frame) {
    case DialogFrame::Main:
        return {centred | WS_SYSMENU | WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX, WS_EX_APPWINDOW | WS_EX_CLIENTEDGE};
    case DialogFrame::Tool: return {common | WS_SYSMENU | WS_THICKFRAME, WS_EX_TOOLWINDOW | WS_EX_STATICEDGE};
    case DialogFrame::Fixed: return {centred | WS_SYSMENU | DS_MODALFRAME, WS_EX_DLGMODALFRAME};
    case DialogFrame::Sizing: return {centred | WS_THICKFRAME | DS_MODALFRAME, WS_EX_DLGMODALFRAME};
    }
    return {common, 0};
}

// The window class (an atom of the standard classes or a name) and style of a control.
struct ControlClass {
    WORD atom;
    const wchar_t* name;
    DWORD style;
};

ControlClass ClassOf(const ControlTemplate& c)
{
    switch (c.kind) {
    case ControlKind::Label: return {STATIC_CLASS, nullptr, SS_LEFT};
    case ControlKind::LabelCentred: return {STATIC_CLASS, nullptr, SS_CENTER};
    case ControlKind::LabelRight: return {STATIC_CLASS, nullptr, SS_RIGHT};
    case ControlKind::GroupBox: return {BUTTON_CLASS, nullptr, BS_GROUPBOX};
    case ControlKind::Button: return {BUTTON_CLASS, nullptr, BS_PUSHBUTTON | WS_TABSTOP};
    case ControlKind::DefaultButton: return {BUTTON_CLASS, nullptr, BS_DEFPUSHBUTTON | WS_TABSTOP};
    case ControlKind::CheckBox: return {BUTTON_CLASS, nullptr, BS_AUTOCHECKBOX | WS_TABSTOP};
    case ControlKind::LineEdit: return {EDIT_CLASS, nullptr, ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP};
    case ControlKind::ReadOnlyText:
        return {EDIT_CLASS, nullptr, ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL | WS_BORDER};
    case ControlKind::DropDown: return {COMBOBOX_CLASS, nullptr, CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP};
    case ControlKind::TreeView: {
        DWORD style = TVS_HASBUTTONS | TVS_HASLINES | TVS_LINESATROOT | TVS_DISABLEDRAGDROP | TVS_TRACKSELECT |
                      TVS_SHOWSELALWAYS | WS_BORDER | WS_TABSTOP;
        if (c.style & STYLE_FULL_ROW_SELECT) style |= TVS_FULLROWSELECT;
        return {0, WC_TREEVIEWW, style};
    }
    case ControlKind::PacketList:
        return {0, WC_LISTVIEWW,
                LVS_REPORT | LVS_OWNERDATA | LVS_NOCOLUMNHEADER | LVS_SHOWSELALWAYS | WS_BORDER |
                    WS_TABSTOP};
    case ControlKind::IpAddress: return {0, WC_IPADDRESSW, WS_TABSTOP};
    case ControlKind::Trackbar: return {0, TRACKBAR_CLASSW, TBS_VERT | TBS_NOTICKS | WS_TABSTOP};
    case ControlKind::RichEdit:
        return {0, MSFTEDIT_CLASS, ES_MULTILINE | ES_WANTRETURN | ES_AUTOVSCROLL | WS_VSCROLL | WS_BORDER | WS_TABSTOP};
    case ControlKind::Icon: return {STATIC_CLASS, nullptr, SS_ICON};
    case ControlKind::ProgressBar: return {0, PROGRESS_CLASSW, 0};  // 0 to 100 by default
    }
    return {STATIC_CLASS, nullptr, 0};
}

}  // namespace

std::vector<WORD> BuildDialogTemplate(const DialogTemplate& t)
{
    TemplateWriter out;
    const FrameStyle frame = StyleOf(t.frame);
    out.Word(1);       // dlgVer
    out.Word(0xFFFF);  // signature: the extended template
    out.Dword(0);      // helpID
    out.Dword(frame.exStyle);
    out.Dword(frame.style);
    out.Word(static_cast<WORD>(t.controls.size()));
    out.Short(0);
    out.Short(0);
    out.Short(t.width);
    out.Short(t.height);
    out.Word(0);  // no menu
    out.Word(0);  // the dialog class
    out.String(WideFromLatin1(t.caption));
    out.Word(static_cast<WORD>(t.pointSize));
    out.Word(FW_NORMAL);
    out.Word(MAKEWORD(FALSE, DEFAULT_CHARSET));  // italic, character set
    out.String(WideFromLatin1(t.fontFace));
    for (const ControlTemplate& c : t.controls) {
        const ControlClass kind = ClassOf(c);
        out.AlignDword();
        out.Dword(0);  // helpID
        out.Dword(0);  // exStyle
        out.Dword(WS_CHILD | WS_VISIBLE | kind.style | ((c.style & STYLE_DISABLED) ? WS_DISABLED : 0));
        out.Short(c.x);
        out.Short(c.y);
        out.Short(c.width);
        out.Short(c.height);
        out.Dword(static_cast<DWORD>(c.id));
        if (kind.name) out.String(kind.name);
        else out.Ordinal(kind.atom);
        if (c.kind == ControlKind::Icon) out.Ordinal(KESTRINE_ICON_ID);
        else out.String(c.text && c.kind != ControlKind::DropDown ? WideFromLatin1(c.text) : std::wstring());
        out.Word(0);  // no creation data
    }
    return out.Take();
}

}  // namespace kestrine
