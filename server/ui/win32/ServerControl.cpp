// Start, stop and reload of the server thread, and the error box for its set-up failures.
#include "server/ui/win32/ServerControl.h"

#include <windows.h>

#include "common/control/ControlNames.h"
#include "common/platform/FileSystem.h"
#include "common/win32/Text.h"
#include "server/rpc/Daemon.h"

namespace serverui {

using win32::AsWide;

std::vector<std::string> SplitHosts(std::u16string_view hostText) {
    std::vector<std::string> hosts;
    std::size_t start = 0;
    for (;;) {
        const std::size_t space = hostText.find(u' ', start);
        if (space == std::u16string_view::npos) {
            hosts.push_back(win32::WideToAnsi(AsWide(hostText.substr(start))));
            return hosts;
        }
        hosts.push_back(win32::WideToAnsi(AsWide(hostText.substr(start, space - start))));
        start = space + 1;
    }
}

std::u16string ErrorBoxText(std::u16string_view text) {
    std::u16string shown(text);
    if (!shown.empty() && shown.back() > u'.')
        shown += u'.';
    return shown;
}

void ShowServerError(std::u16string_view text) {
    const std::u16string shown = ErrorBoxText(text);
    MessageBoxW(nullptr, AsWide(shown.c_str()), AsWide(control::kServerWindowTitle),
                MB_ICONSTOP | MB_OK);
}

bool IsExistingFolder(const std::u16string& path) {
    if (path.empty())
        return false;
    std::uint32_t attributes = 0;
    return platform::GetPathAttributes(path, attributes) &&
           (attributes & platform::kAttributeDirectory) != 0;
}

TServerControl::TServerControl(std::u16string listFolder, std::u16string settingsLocation)
    : listFolder_(std::move(listFolder)), settingsLocation_(std::move(settingsLocation)),
      settings_(platform::DefaultServerSettings()) {}

TServerControl::~TServerControl() {
    StopServer();
}

bool TServerControl::LoadAtStart(std::u16string& error) {
    settings_ = platform::DefaultServerSettings();
    platform::SettingsStore store(settingsLocation_);
    if (!store.Open(platform::SettingsAccess::kRead, error))
        return error.empty();
    return store.Read(settings_, error);
}

bool TServerControl::StartServer(std::u16string& error) {
    if (daemon_ != nullptr)
        return true;
    auto daemon =
        std::make_unique<server::TDaemon>(settings_.root, settings_.codePage, listFolder_);
    if (daemon->ErrorText().empty()) {
        for (const std::string& host : SplitHosts(settings_.host))
            daemon->AddAllowedHost(host);
    }
    // The daemon keeps its set-up failure as text; one that never started is just destroyed,
    // which closes whatever sockets it had opened.
    if (!daemon->ErrorText().empty() || !daemon->Start()) {
        error = win32::ToU16(win32::Utf8ToWide(daemon->ErrorText()));
        return false;
    }
    daemon_ = std::move(daemon);
    return true;
}

void TServerControl::StopServer() {
    if (daemon_ == nullptr)
        return;
    daemon_->Stop();
    daemon_.reset();
}

bool TServerControl::ReloadSettings(std::u16string& error) {
    platform::ServerSettings loaded = platform::DefaultServerSettings();
    bool readable = true;
    platform::SettingsStore store(settingsLocation_);
    if (store.Open(platform::SettingsAccess::kReadWrite, error)) {
        readable = store.Read(loaded, error);
        store.Close();
    } else {
        loaded = settings_;
    }
    StopServer();
    if (!readable)
        return false;
    settings_ = std::move(loaded);
    return StartServer(error);
}

bool TServerControl::ApplySettings(const platform::ServerSettings& edited, std::u16string& error) {
    StopServer();
    platform::SettingsStore store(settingsLocation_);
    if (store.Open(platform::SettingsAccess::kReadWrite, error)) {
        if (edited.root != settings_.root && IsExistingFolder(edited.root)) {
            settings_.root = edited.root;
            if (!store.WriteRoot(settings_.root, error))
                return false;
        }
        if (edited.host != settings_.host) {
            settings_.host = edited.host;
            if (!store.WriteHost(settings_.host, error))
                return false;
        }
        if (edited.codePage != settings_.codePage) {
            settings_.codePage = edited.codePage;
            if (!store.WriteCodePage(settings_.codePage, error))
                return false;
        }
        store.Close();
    }
    return StartServer(error);
}

} // namespace serverui
