// A small window of its own with the decoded tree of one packet, filled once when it
// opens, so packets can be compared side by side. It owns itself: closing it (close box,
// Esc or Enter) destroys it, and it goes with its owner.
#pragma once

#include <cstdint>
#include <memory>

#include "common/packet_record.h"
#include "ui/window_system.h"

namespace kestrine {

inline constexpr int DETAIL_WINDOW_ID = 103;
inline constexpr int DETAIL_TREE_ID = 1016;
inline constexpr int DETAIL_MIN_WIDTH = 150;  // frame included
inline constexpr int DETAIL_MIN_HEIGHT = 65;
inline constexpr int COPY_DETAIL_WINDOW_COMMAND = 0x8010;

extern const DialogTemplate DETAIL_TEMPLATE;

struct ScreenPoint {
    int x;
    int y;
    friend bool operator==(const ScreenPoint&, const ScreenPoint&) = default;
};

// Where the next detail window opens, in screen coordinates; (50, 30) at start.
extern ScreenPoint g_nextDetailPosition;
// The cascade: 50 to the right and 30 down, each coordinate wrapping by itself.
ScreenPoint NextDetailPosition(ScreenPoint position);

class DetailWindow final : public DialogHandler {
public:
    Dialog* Window() const { return m_dialog.get(); }

    void OnOK() override;
    void OnCancel() override;
    void OnCommand(int id) override;  // Copy
    bool IsCommandEnabled(int command) override;
    void OnSize(uint32_t type, int width, int height) override;
    void OnDestroyed() override;

    // Open windows, for the tests' accounting.
    static int OpenCount();

private:
    friend DetailWindow* OpenDetailWindow(Dialog* owner, const PacketRecord& record, int64_t index);
    explicit DetailWindow(Dialog* owner);
    ~DetailWindow();

    std::unique_ptr<Dialog> m_dialog;
};

// Creates, places, fills and shows a detail window for the record, owned by owner (the
// main window). The window owns itself from then on; the pointer is for the tests.
DetailWindow* OpenDetailWindow(Dialog* owner, const PacketRecord& record, int64_t index);

}  // namespace kestrine
