// The IP address control's fields, subclassed; see ip_address_win32.h.
#include "ui/win32/ip_address_win32.h"

#include <commctrl.h>

namespace kestrine {

namespace {

constexpr UINT_PTR FIELD_SUBCLASS = 0x4B495041;
// On the control: the field that a full field last moved on to by itself.
constexpr wchar_t ADVANCED_INTO[] = L"Kestrine.AdvancedInto";

bool WhollySelected(HWND field)
{
    DWORD start = 0, end = 0;
    SendMessageW(field, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
    return start == 0 && end == static_cast<DWORD>(GetWindowTextLengthW(field));
}

LRESULT CALLBACK FieldProcedure(HWND field, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR)
{
    HWND control = GetParent(field);
    switch (message) {
    case WM_CHAR: {
        const bool justAdvanced = GetPropW(control, ADVANCED_INTO) == field && WhollySelected(field);
        RemovePropW(control, ADVANCED_INTO);
        if (wParam == L'.' || wParam == L' ') {
            if (justAdvanced) return 0;
            break;
        }
        if (wParam < L'0' || wParam > L'9') break;
        const LRESULT result = DefSubclassProc(field, message, wParam, lParam);
        HWND focused = GetFocus();
        if (focused && focused != field && GetParent(focused) == control) {
            SendMessageW(focused, EM_SETSEL, 0, -1);
            SetPropW(control, ADVANCED_INTO, focused);
        }
        return result;
    }
    case WM_NCDESTROY:
        RemovePropW(control, ADVANCED_INTO);
        RemoveWindowSubclass(field, FieldProcedure, FIELD_SUBCLASS);
        break;
    default: break;
    }
    return DefSubclassProc(field, message, wParam, lParam);
}

BOOL CALLBACK SubclassField(HWND child, LPARAM)
{
    SetWindowSubclass(child, FieldProcedure, FIELD_SUBCLASS, 0);
    return TRUE;
}

}  // namespace

void FollowDottedTyping(HWND ipAddress)
{
    EnumChildWindows(ipAddress, SubclassField, 0);
}

}  // namespace kestrine
