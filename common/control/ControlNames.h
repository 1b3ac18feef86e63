// The names by which Server.exe, Lumavert.exe and the Explorer extension find each other: the
// registered window messages and the windows they look up by class and title. Every program
// takes them from here, so a typo cannot split one channel into two.
#pragma once

namespace control {

// Registered window messages (RegisterWindowMessage). The manager broadcasts "CMD To NFS Server"
// to make the server reload; the server posts "CMD To Manager AP" to all windows when it runs the
// new settings. The two debug messages show or hide a program's hidden window (wParam 0, lParam
// 1 or 0); a developer's tool sends them, none of these programs does.
// The shell broadcasts "TaskbarCreated" when its taskbar is re-created.
inline constexpr char16_t kCmdToNfsServer[] = u"CMD To NFS Server";
inline constexpr char16_t kCmdToManagerAp[] = u"CMD To Manager AP";
inline constexpr char16_t kDebugToNfsServer[] = u"DEBUG To NFS Server";
inline constexpr char16_t kDebugToManagerAp[] = u"Debug To Manager AP";
inline constexpr char16_t kTaskbarCreated[] = u"TaskbarCreated";

// Server.exe's hidden application window; a close request to it ends the server.
inline constexpr char16_t kServerWindowClass[] = u"TApplication";
inline constexpr char16_t kServerWindowTitle[] = u"Lumavert Server";

// The manager's main dialog (the standard dialog class); the extension enables its command only
// while it exists, and a second manager finds the first by it.
inline constexpr char16_t kManagerWindowClass[] = u"#32770";
inline constexpr char16_t kManagerWindowTitle[] = u"Lumavert";

} // namespace control
