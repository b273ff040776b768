// Definitions of the process-wide session and adapter pointers.
#include "ui/session_globals.h"

namespace kestrine {

CaptureSession* g_session = nullptr;
adapter_info* g_adapterInfo = nullptr;

}  // namespace kestrine
