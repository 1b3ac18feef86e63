// The help window's text, assembled from the bytes of the help file as the window shows it:
// each line keeps its line feed and gets a CR LF, within a buffer of twice the file's size.
#pragma once

#include <string>
#include <string_view>

namespace manager {

// Decodes by the file's byte-order mark (FF FE: UTF-16LE; EF BB BF or none: UTF-8), reads in
// text mode (CR LF becomes LF) and assembles within 2 x bytes.size() units, terminator
// included. An empty file gives an empty text.
std::u16string AssembleHelpText(std::string_view bytes);

} // namespace manager
