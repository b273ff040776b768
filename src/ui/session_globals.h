// The process-wide current capture session and adapter information object. The main
// window creates the first session and deletes both at its end; the configuration dialog
// replaces the session on a rebinding and the adapter object at each opening.
#pragma once

namespace kestrine {

class CaptureSession;
class adapter_info;

extern CaptureSession* g_session;
extern adapter_info* g_adapterInfo;

}  // namespace kestrine
