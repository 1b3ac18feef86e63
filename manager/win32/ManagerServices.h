// The small system services of the manager: the program's own path, 64-bit Windows, the
// version strings of a file, the taskbar's free area, and the server's supervisor host.
#pragma once

#include <windows.h>

#include <cstddef>
#include <functional>
#include <string>

#include "manager/core/Placement.h"
#include "manager/core/ServerReset.h"

namespace manager {

// Paths are kept in buffers of 260 units.
inline constexpr std::size_t kPathUnits = 260;
// The About box's lines and version strings are 256 units.
inline constexpr std::size_t kVersionUnits = 256;

// The running program's full path (the module's, not the command line's first argument: a bare
// name typed at a prompt would make the folder the current directory). False when it does not
// fit 260 units.
bool ModulePath(std::u16string& path);
// The path cut just after its last backslash (empty without one).
std::u16string FolderOf(const std::u16string& path);

// True on 64-bit Windows.
bool IsWow64Windows();

// The file version as "%d.%d.%d.%d" and the 040904b0 LegalCopyright string, each cut to its
// capacity. No version resource: the version is "<unknown>" and `legal` is left as it was; a
// missing fixed information block or copyright string gives "<unknown>" for that one.
void GetFileVersionStrings(const std::u16string& path, std::u16string& version,
                           std::size_t versionCapacity, std::u16string& legal,
                           std::size_t legalCapacity);

// The free area by the "Shell_TrayWnd" window's rectangle; false (edge 1, the whole screen)
// when there is no such window.
bool QueryTaskbarFreeArea(TaskbarFreeArea& area);

// ResetServer's host on Windows: the server's window by class "TApplication" and title
// "Lumavert Server", its owner process, the file system and process start; the error box and
// quitting are the main dialog's.
class Win32ServerHost : public ServerHost {
  public:
    Win32ServerHost(std::function<void(const std::u16string&)> showErrorBox,
                    std::function<void()> quitManager);

    bool ServerWindowExists() override;
    void PostCloseToServer() override;
    void TerminateServerWindowOwner() override;
    bool FileExists(const std::u16string& path) override;
    bool StartProgramHidden(const std::u16string& path) override;
    bool AwaitServerAnswer(unsigned milliseconds) override;
    void ShowErrorBox(const std::u16string& text) override { showErrorBox_(text); }
    void QuitManager() override { quitManager_(); }
    void Sleep(unsigned milliseconds) override { ::Sleep(milliseconds); }

  private:
    std::function<void(const std::u16string&)> showErrorBox_;
    std::function<void()> quitManager_;
};

} // namespace manager
