// Start, stop and reload of the server thread, and the error box for its set-up failures.
#include "server/ui/win32/ServerControl.h"

#include "server/rpc/Daemon.h"
#include "server/ui/win32/ControlChannel.h"
#include "server/ui/win32/ServerFolders.h"
#include "server/ui/win32/WinText.h"

namespace serverui {

TServerSettings DefaultSettings() {
    TServerSettings settings;
    settings.root = DefaultRoot();
    settings.codePage = GetACP();
    return settings;
}

std::vector<std::string> SplitHosts(std::wstring_view hostText) {
    std::vector<std::string> hosts;
    std::size_t start = 0;
    for (;;) {
        const std::size_t space = hostText.find(L' ', start);
        if (space == std::wstring_view::npos) {
            hosts.push_back(WideToAnsi(hostText.substr(start)));
            return hosts;
        }
        hosts.push_back(WideToAnsi(hostText.substr(start, space - start)));
        start = space + 1;
    }
}

std::wstring ErrorBoxText(std::wstring_view text) {
    std::wstring shown(text);
    if (!shown.empty() && shown.back() > L'.')
        shown += L'.';
    return shown;
}

void ShowServerError(std::wstring_view text) {
    const std::wstring shown = ErrorBoxText(text);
    MessageBoxW(nullptr, shown.c_str(), kAppTitle, MB_ICONSTOP | MB_OK);
}

TServerControl::TServerControl(std::wstring listFolder, std::wstring keyPath)
    : listFolder_(std::move(listFolder)), keyPath_(std::move(keyPath)),
      settings_(DefaultSettings()) {}

TServerControl::~TServerControl() {
    StopServer();
}

bool TServerControl::LoadAtStart(std::wstring& error) {
    settings_ = DefaultSettings();
    TSettingsStore store(keyPath_);
    if (!store.OpenForReading())
        return true;
    return store.Read(settings_, error);
}

bool TServerControl::StartServer(std::wstring& error) {
    if (daemon_ != nullptr)
        return true;
    auto daemon = std::make_unique<server::TDaemon>(ToU16(settings_.root), settings_.codePage,
                                                    ToU16(listFolder_));
    if (daemon->ErrorText().empty()) {
        for (const std::string& host : SplitHosts(settings_.host))
            daemon->AddAllowedHost(host);
    }
    // The daemon keeps its set-up failure as text; one that never started is just destroyed,
    // which closes whatever sockets it had opened.
    if (!daemon->ErrorText().empty() || !daemon->Start()) {
        error = Utf8ToWide(daemon->ErrorText());
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

bool TServerControl::ReloadSettings(std::wstring& error) {
    TServerSettings loaded = DefaultSettings();
    bool readable = true;
    TSettingsStore store(keyPath_);
    if (store.OpenForWriting()) {
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

bool TServerControl::ApplySettings(const TServerSettings& edited, std::wstring& error) {
    StopServer();
    TSettingsStore store(keyPath_);
    if (store.OpenForWriting()) {
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
