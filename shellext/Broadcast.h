// The hand-off's notification: "CMD DLL To Manager AP" (0, 0) to every top-level window.
#pragma once

namespace tavomenu {

// Returns once every window has handled it, has been waited for 5 s, or is hung: a plain
// broadcast would freeze Explorer for as long as any program's window does not answer.
void BroadcastHandOff();

} // namespace tavomenu
