// The list files the PC writes for the player: a byte-order mark FF FE, then one UTF-16LE
// name per line, each ended by CR LF.
#pragma once

#include <string>
#include <vector>

#include "player/Bytes.h"
#include "player/Departure.h"

namespace player {

// Names in file order. Every byte layout other than the one above is a departure; the names
// that can still be told apart are kept.
Departures ParseListFile(ByteSpan file, std::vector<std::u16string>& names);

} // namespace player
