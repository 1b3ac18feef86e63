// Who may talk to the server: the allowed-host list (portmapper, MOUNT) and the mount list
// (NFS: only clients that mounted, from the address they mounted from).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace server {

struct TMountEntry {
    std::u16string path; // as the client sent it, converted with the code page
    std::int32_t useCount = 0;
    std::uint32_t client = 0; // IPv4, network order
};

class TMounts {
  public:
    std::size_t Add(TMountEntry entry);
    // The entry's use count may change; its client may not (HasClient counts by client).
    TMountEntry& Get(std::size_t index) { return entries_[index]; }
    void Delete(std::size_t index);
    void Clear();
    std::size_t Count() const { return entries_.size(); }
    // First index whose path equals `path` ignoring case and whose client is `client`, or -1.
    std::int64_t Find(std::u16string_view path, std::uint32_t client) const;
    // Asked by every NFS call, so kept constant-time however many paths were mounted.
    bool HasClient(std::uint32_t client) const { return entriesByClient_.contains(client); }

  private:
    std::vector<TMountEntry> entries_;
    std::unordered_map<std::uint32_t, std::size_t> entriesByClient_;
};

class TAllowedAddrs {
  public:
    void Add(std::uint32_t address) { addresses_.push_back(address); }
    std::size_t Count() const { return addresses_.size(); }
    std::uint32_t Get(std::size_t index) const { return addresses_[index]; }
    bool Contains(std::uint32_t address) const;
    void Clear() { addresses_.clear(); }

  private:
    std::vector<std::uint32_t> addresses_;
};

} // namespace server
