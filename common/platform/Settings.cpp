// The settings' defaults and error texts, shared by the registry and the settings-file stores.
#include "common/platform/Settings.h"

#include "common/platform/CodePage.h"
#include "common/platform/FileSystem.h"

namespace platform {

namespace {

// Names never pass through a format string: the texts are put together by concatenation.
std::u16string ValueText(std::u16string_view prefix, std::u16string_view name) {
    std::u16string text(prefix);
    text += name;
    text += u'\'';
    return text;
}

} // namespace

std::u16string DefaultRoot() {
    std::u16string base;
    if ((!DocumentsFolder(false, base) || base.empty()) && !CurrentDirectory(base))
        base = u".";
    return base + NativeSeparator() + u"Lumavert";
}

ServerSettings DefaultServerSettings() {
    ServerSettings settings;
    settings.root = DefaultRoot();
    settings.codePage = SystemAnsiCodePage();
    return settings;
}

std::u16string InvalidDataTypeText(std::u16string_view name) {
    return ValueText(u"Invalid data type for '", name);
}

std::u16string GetDataFailedText(std::u16string_view name) {
    return ValueText(u"Failed to get data for '", name);
}

std::u16string SetDataFailedText(std::u16string_view name) {
    return ValueText(u"Failed to set data for '", name);
}

} // namespace platform
