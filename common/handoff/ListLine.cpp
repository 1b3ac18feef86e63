// ReadListLine: single lines of a list file, read as the C runtime reads UTF-16 text.
#include "common/handoff/HandOffReader.h"

#include "common/platform/CodePage.h"
#include "common/platform/FileSystem.h"
#include "common/text/DebugPrint.h"

namespace handoff {

namespace {

// The units of a list file after its byte-order mark, with CR LF turned into LF.
class ListTextReader {
  public:
    explicit ListTextReader(ListSource& source) : source_(source) {}

    void DetectByteOrderMark() {
        unsigned char first = 0;
        unsigned char second = 0;
        if (!PeekByte(0, first) || !PeekByte(1, second))
            return;
        if (first == 0xFF && second == 0xFE) {
            position_ += 2;
            return;
        }
        unsigned char third = 0;
        if (first == 0xEF && second == 0xBB && PeekByte(2, third) && third == 0xBF) {
            position_ += 3;
            utf8_ = true;
        }
    }

    // A bounded line read: up to `limit` units, up to and including an LF. False at the end of
    // the file when nothing was read.
    bool ReadLine(std::u16string& line, std::size_t limit) {
        std::u16string read;
        char16_t unit = 0;
        while (read.size() < limit && NextUnit(unit)) {
            read.push_back(unit);
            if (unit == u'\n')
                break;
        }
        if (read.empty())
            return false;
        line = std::move(read);
        return true;
    }

  private:
    bool NextUnit(char16_t& unit) {
        if (hasPending_) {
            hasPending_ = false;
            unit = pending_;
            return true;
        }
        if (!NextRawUnit(unit))
            return false;
        if (unit != u'\r')
            return true;
        char16_t next = 0;
        if (!NextRawUnit(next))
            return true;
        if (next == u'\n') {
            unit = u'\n';
            return true;
        }
        pending_ = next;
        hasPending_ = true;
        return true;
    }

    bool NextRawUnit(char16_t& unit) {
        if (hasLowSurrogate_) {
            hasLowSurrogate_ = false;
            unit = lowSurrogate_;
            return true;
        }
        if (!utf8_) {
            unsigned char low = 0;
            unsigned char high = 0;
            // A lone last byte is dropped, as the runtime drops it.
            if (!TakeByte(low) || !TakeByte(high))
                return false;
            unit = static_cast<char16_t>(low | (high << 8));
            return true;
        }
        return NextUtf8Unit(unit);
    }

    bool NextUtf8Unit(char16_t& unit) {
        unsigned char lead = 0;
        if (!TakeByte(lead))
            return false;
        std::string sequence(1, static_cast<char>(lead));
        const std::size_t extra = lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC0 ? 1 : 0;
        unsigned char next = 0;
        for (std::size_t k = 0; k < extra && PeekByte(0, next) && (next & 0xC0) == 0x80; ++k) {
            TakeByte(next);
            sequence.push_back(static_cast<char>(next));
        }
        const std::u16string decoded = platform::Utf8ToUtf16(sequence);
        unit = decoded.empty() ? u'\xFFFD' : decoded[0];
        if (decoded.size() > 1) {
            lowSurrogate_ = decoded[1];
            hasLowSurrogate_ = true;
        }
        return true;
    }

    bool PeekByte(std::size_t ahead, unsigned char& byte) {
        while (position_ + ahead >= filled_) {
            if (!Refill())
                return false;
        }
        byte = buffer_[position_ + ahead];
        return true;
    }

    bool TakeByte(unsigned char& byte) {
        if (!PeekByte(0, byte))
            return false;
        ++position_;
        return true;
    }

    // Keeps the unread bytes and appends what the file gives next; false at its end.
    bool Refill() {
        if (atEnd_)
            return false;
        const std::size_t kept = filled_ - position_;
        for (std::size_t i = 0; i < kept; ++i)
            buffer_[i] = buffer_[position_ + i];
        position_ = 0;
        filled_ = kept;
        std::uint32_t read = 0;
        if (!source_.Read(buffer_ + filled_, static_cast<std::uint32_t>(sizeof buffer_ - filled_),
                          read) ||
            read == 0 || read > sizeof buffer_ - filled_) {
            atEnd_ = true;
            return false;
        }
        filled_ += read;
        return true;
    }

    ListSource& source_;
    unsigned char buffer_[4096] = {};
    std::size_t position_ = 0;
    std::size_t filled_ = 0;
    bool atEnd_ = false;
    bool utf8_ = false;
    char16_t pending_ = 0;
    bool hasPending_ = false;
    char16_t lowSurrogate_ = 0;
    bool hasLowSurrogate_ = false;
};

class FileListSource : public ListSource {
  public:
    explicit FileListSource(platform::File& file) : file_(file) {}
    bool Read(void* buffer, std::uint32_t count, std::uint32_t& read) override {
        return file_.Read(buffer, count, read);
    }

  private:
    platform::File& file_;
};

} // namespace

void ReadListLineFrom(ListSource& source, int index, std::u16string& line, std::size_t capacity) {
    ListTextReader reader(source);
    reader.DetectByteOrderMark();
    // The index comes from the player: the reads end with the file, not after `index` tries.
    const std::size_t limit = capacity > 0 ? capacity - 1 : 0;
    for (int i = 0; limit > 0 && i < index; ++i) {
        if (!reader.ReadLine(line, limit))
            break;
    }
}

int ReadListLine(const ListPaths& paths, int index, int mediaType, std::u16string& line,
                 std::size_t capacity) {
    if (index == 0)
        return kListLineNotRead;
    if (mediaType < 1 || mediaType > 3)
        return kListLineBadType;
    platform::OpenOptions options;
    options.access = platform::FileAccess::Read;
    options.share = platform::FileShare::ReadWrite;
    platform::File file =
        platform::File::Open(paths.For(static_cast<MediaType>(mediaType)), options);
    if (!file.IsOpen())
        return kListLineNoFile;
    FileListSource source(file);
    ReadListLineFrom(source, index, line, capacity);
    text::DebugPrint(u"Line %d: %s \n", index, line);
    return kListLineRead;
}

} // namespace handoff
