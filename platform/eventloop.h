#pragma once

namespace platform {

// Handle every pending window event, then return. Any handler may run inside.
void DoEvents();

} // namespace platform
