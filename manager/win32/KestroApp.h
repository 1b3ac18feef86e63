// CKestroApp: Lumavert.exe's application object. It starts the socket library and the common
// controls, then runs the hidden main dialog until the manager quits.
#pragma once

namespace manager {

class CKestroApp {
  public:
    // The process's exit code: 0 whenever the manager quits (a second instance ends with 1
    // from inside the main dialog).
    int Run();
};

} // namespace manager
