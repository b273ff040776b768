// A small window of its own with the decoded tree of one packet, filled once when it
// opens, so packets can be compared side by side. It owns itself and is destroyed when
// closed (or with its owner).
#pragma once

#include <QDialog>
#include <QPoint>

#include <cstdint>

#include "common/packet_record.h"

class QTreeView;

namespace kestrine {

class DetailTreeModel;

inline constexpr int DETAIL_WINDOW_ID = 103;
inline constexpr int DETAIL_TREE_ID = 1016;
inline constexpr int DETAIL_MIN_WIDTH = 150;  // frame included
inline constexpr int DETAIL_MIN_HEIGHT = 65;

// Where the next detail window opens, in screen coordinates; (50, 30) at start.
extern QPoint g_nextDetailPosition;
// The cascade: 50 to the right and 30 down, each coordinate wrapping by itself.
QPoint NextDetailPosition(QPoint position);

class DetailWindow final : public QDialog {
public:
    explicit DetailWindow(QWidget* owner);

    QTreeView* m_tree = nullptr;
    DetailTreeModel* m_model = nullptr;

protected:
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void SetMinimumFrameSize();
};

// Creates, places, fills and shows a detail window for the record, owned by owner (the
// main window). Returns it; it deletes itself when closed.
DetailWindow* OpenDetailWindow(QWidget* owner, const PacketRecord& record, int64_t index);

}  // namespace kestrine
