// The small modeless Filter window of the main window: a display filter expression that
// narrows the packet list to the packets it matches (Apply, Clear), with how many of how
// many are shown, and a capture filter expression for the next capture. A mistake in an
// expression shows in the window, never in a message box.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "filter/bpf.h"
#include "ui/window_system.h"

namespace kestrine {

inline constexpr int FILTER_DIALOG_ID = 108;
inline constexpr int IDC_FILTER_TEXT = 1401;
inline constexpr int IDC_FILTER_APPLY = 1402;
inline constexpr int IDC_FILTER_CLEAR = 1403;
inline constexpr int IDC_FILTER_STATUS = 1404;
inline constexpr int IDC_CAPTURE_FILTER_TEXT = 1405;
inline constexpr int IDC_CAPTURE_FILTER_SET = 1406;
inline constexpr int IDC_CAPTURE_FILTER_STATUS = 1407;

extern const DialogTemplate FILTER_TEMPLATE;

class FilterWindow final : public DialogHandler {
public:
    // Shows the packets a compiled display filter keeps (an empty program: all of them).
    using Apply = std::function<void(std::vector<BpfInstruction> program)>;

    FilterWindow(Dialog* owner, Apply apply);
    ~FilterWindow();
    FilterWindow(const FilterWindow&) = delete;
    FilterWindow& operator=(const FilterWindow&) = delete;

    // Shows the window with its display filter selected, ready for typing.
    void Open();
    Dialog* Window() const { return m_dialog.get(); }
    // How many packets the list shows of how many there are; a mistake shown stays until
    // the expression changes or applies.
    void ShowCounts(size_t shown, size_t total);
    // The capture filter set for the next capture (empty: none); it stays while the
    // program runs.
    const std::vector<BpfInstruction>& CaptureProgram() const { return m_captureProgram; }

    void OnCommand(int id) override;
    void OnTextChanged(int id) override;
    void OnCancel() override;  // Esc and Close hide the window, its expressions staying

private:
    void ApplyDisplayFilter(const std::string& expression);
    void SetCaptureFilter();
    void ShowCountText();

    Dialog* m_owner;
    std::unique_ptr<Dialog> m_dialog;
    Apply m_apply;
    std::vector<BpfInstruction> m_captureProgram;
    size_t m_shown = 0;
    size_t m_total = 0;
    bool m_mistakeShown = false;
    bool m_placed = false;
};

}  // namespace kestrine
