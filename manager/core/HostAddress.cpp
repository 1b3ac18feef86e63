// The host address lookup run before every discovery.
#include "manager/core/HostAddress.h"

#include "common/platform/CodePage.h"
#include "common/text/DebugPrint.h"
#include "common/text/Format.h"

namespace manager {

std::string DottedText(std::uint32_t networkOrder) {
    const auto octets = Octets(networkOrder);
    std::string out;
    for (std::size_t i = 0; i < octets.size(); ++i) {
        if (i > 0)
            out += '.';
        out += std::to_string(octets[i]);
    }
    return out;
}

bool ParseDottedQuad(std::string_view text, std::uint32_t& networkOrder) {
    std::array<std::uint8_t, 4> octets{};
    std::size_t pos = 0;
    for (std::size_t i = 0; i < octets.size(); ++i) {
        if (i > 0) {
            if (pos >= text.size() || text[pos] != '.')
                return false;
            ++pos;
        }
        unsigned value = 0;
        std::size_t digits = 0;
        while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9' && digits < 3) {
            value = value * 10 + static_cast<unsigned>(text[pos] - '0');
            ++pos;
            ++digits;
        }
        if (digits == 0 || value > 255)
            return false;
        octets[i] = static_cast<std::uint8_t>(value);
    }
    if (pos != text.size())
        return false;
    networkOrder = FromOctets(octets);
    return true;
}

std::string Utf8CutToFit(std::u16string_view text, std::size_t capacity) {
    std::string out;
    if (capacity == 0)
        return out;
    for (std::size_t i = 0; i < text.size();) {
        // A surrogate pair is one character: it goes whole or not at all.
        const bool pair = i + 1 < text.size() && text[i] >= 0xD800 && text[i] <= 0xDBFF &&
                          text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF;
        const std::size_t units = pair ? 2 : 1;
        const std::string bytes = platform::Utf16ToUtf8(text.substr(i, units));
        if (out.size() + bytes.size() > capacity - 1)
            break;
        out += bytes;
        i += units;
    }
    return out;
}

int MatchAdapter(const std::vector<platform::AdapterInfo>& adapters, std::string_view addressText,
                 MacAddress& mac, std::uint32_t& mask) {
    int result = kAdapterNotFound;
    for (const platform::AdapterInfo& adapter : adapters) {
        for (const platform::AdapterAddress& entry : adapter.addresses) {
            if (entry.address != addressText)
                continue;
            if (adapter.hardwareAddress.size() != mac.size()) {
                result = kAdapterNotEthernet;
                continue;
            }
            std::copy(adapter.hardwareAddress.begin(), adapter.hardwareAddress.end(), mac.begin());
            // As inet_addr would: a text that is no address gives all ones.
            std::uint32_t value = 0xFFFFFFFFu;
            ParseDottedQuad(entry.mask, value);
            mask = value;
            result = kAdapterFound;
        }
    }
    return result;
}

int FindAdapterByAddress(IManagerPort& port, std::string_view addressText, MacAddress& mac,
                         std::uint32_t& mask) {
    std::vector<platform::AdapterInfo> adapters;
    int error = 0;
    switch (port.ReadAdapters(adapters, error)) {
    case platform::AdapterListStatus::NoMemory:
        text::DebugPrint(u"Error allocating memory needed to call GetAdaptersinfo\n");
        return kAdapterNoMemory;
    case platform::AdapterListStatus::Failed:
        text::DebugPrint(u"GetAdaptersInfo failed with error: %d\n", error);
        return kAdapterTableFailed;
    case platform::AdapterListStatus::Ok:
        break;
    }
    return MatchAdapter(adapters, addressText, mac, mask);
}

int LookUpHostAddress(IManagerPort& port, HostIdentity& host) {
    std::string name;
    if (!port.HostName(name))
        name.clear();
    if (name.size() > kHostNameBytes - 1)
        name.resize(kHostNameBytes - 1);
    std::u16string wide = port.AnsiToUtf16(name);
    text::CutToFit(wide, kHostNameBytes);
    host.hostName = name;
    host.hostNameUtf8 = Utf8CutToFit(wide, kHostNameBytes);

    std::uint32_t address = 0;
    if (name.empty() || !port.ResolveHostName(name, address))
        return kLookupNoAddress;
    host.address = address;
    host.addressText = DottedText(address);

    // Only a found adapter's MAC and mask are taken; otherwise the earlier ones stay.
    MacAddress mac = host.mac;
    std::uint32_t mask = host.mask;
    if (FindAdapterByAddress(port, host.addressText, mac, mask) == kAdapterFound) {
        host.mac = mac;
        host.mask = mask;
        host.macKnown = true;
        text::DebugPrint(u"MAC: %02x-%02x-%02x-%02x-%02x-%02x\n", mac[0], mac[1], mac[2], mac[3],
                         mac[4], mac[5]);
    } else {
        host.macKnown = false;
        text::DebugPrint(u"MAC: fail to get\n");
    }
    host.broadcastText = DottedText(host.address | ~host.mask);
    return 0;
}

} // namespace manager
