// The manager's side of the hand-off: the block opened read-only inside the notification's
// handler, and single lines of the lists read later.
#pragma once

#include "common/handoff/HandOffNames.h"
#include "common/handoff/ListFiles.h"
#include "common/platform/SharedMemory.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace handoff {

class HandOffBlock;

// Opens the block read-only and maps it: 0 on success ("OK: m_hReceiveMap=0x%x" and the system
// error line), -1 when there is no block ("Error: m_hReceiveMap=0x%x" and the system error line),
// -2 when it cannot be mapped (the handle is closed again).
int OpenHandOffBlock(HandOffBlock& block, std::u16string_view blockName = kHandOffBlockName);
// Unmaps and closes what is open. Call it inside the handler: the writer destroys the block
// once the notification returns.
void CloseHandOffBlock(HandOffBlock& block);

// The folder in a block's view of `viewBytes` bytes: up to the first zero unit, at most
// kHandOffFolderUnits units and never past the view.
std::u16string_view FolderInView(const char16_t* units, std::size_t viewBytes);

class HandOffBlock {
  public:
    bool IsOpen() const { return memory_.IsMapped(); }
    // The selection folder: up to the first zero unit, at most kHandOffFolderUnits units and
    // never past the view (an older writer's 260-byte block gives at most 130). Empty when
    // closed. Valid until CloseHandOffBlock.
    std::u16string_view Folder() const;

  private:
    friend int OpenHandOffBlock(HandOffBlock& block, std::u16string_view blockName);
    friend void CloseHandOffBlock(HandOffBlock& block);
    platform::SharedMemory memory_;
};

// Results of ReadListLine.
inline constexpr int kListLineNotRead = 0;   // index 0: nothing read
inline constexpr int kListLineBadType = -1;  // media type not 1, 2 or 3
inline constexpr int kListLineRead = -100;   // lines were read (or none, past the end)
inline constexpr int kListLineNoFile = -101; // the list cannot be opened

// Reads line `index` (from 1) of the list of `mediaType` into `line`, at most `capacity` - 1
// units per read as a bounded line read does (a longer line takes several reads), LF kept,
// after a byte-order mark check (FF FE: UTF-16LE, EF BB BF: UTF-8, none: UTF-16LE) and with
// CR LF read as LF. Each read replaces `line`; at the end of the file the reads stop and `line`
// keeps the last one. A negative index reads nothing. Logs "Line %d: %s \n" after reading.
int ReadListLine(const ListPaths& paths, int index, int mediaType, std::u16string& line,
                 std::size_t capacity = kPathUnits);

// The bytes of a list file, in order: each Read gives the next at most `count` of them; false,
// or none read, at the end.
class ListSource {
  public:
    virtual ~ListSource() = default;
    virtual bool Read(void* buffer, std::uint32_t count, std::uint32_t& read) = 0;
};

// The reads of ReadListLine over `source`, without the file, the checks of index and media type
// and the log line.
void ReadListLineFrom(ListSource& source, int index, std::u16string& line,
                      std::size_t capacity = kPathUnits);

} // namespace handoff
