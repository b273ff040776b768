// Helpers for the window tests: recorded message boxes, a handler that ignores everything,
// and a session that needs no socket.
#pragma once

#include <memory>
#include <vector>

#include "capture/capture_session.h"
#include "ui/session_globals.h"
#include "ui/window_system.h"

namespace kestrine::testing {

// Records every message box and answers it with the given result.
class MessageBoxRecorder {
public:
    explicit MessageBoxRecorder(int answer = MESSAGE_OK)
    {
        SetMessageBoxResponder([this, answer](const MessageBoxRequest& request) {
            m_boxes.push_back(request);
            return answer;
        });
    }
    ~MessageBoxRecorder() { SetMessageBoxResponder(nullptr); }
    const std::vector<MessageBoxRequest>& Boxes() const { return m_boxes; }

private:
    std::vector<MessageBoxRequest> m_boxes;
};

class NoHandler final : public DialogHandler {};

// Installs a session as g_session for the test's duration. The session is not bound to
// anything (not ready), which is all the dialogs need to act on its fields.
class CurrentSession {
public:
    CurrentSession() : m_session(new CaptureSession(HostAddress{}, 1024, 8096)) { g_session = m_session; }
    ~CurrentSession()
    {
        delete g_session;  // the dialog may have replaced it
        g_session = nullptr;
    }
    CaptureSession* Original() const { return m_session; }

private:
    CaptureSession* m_session;
};

}  // namespace kestrine::testing
