// Files, directories and volumes with Win32 meaning on both platforms.
// Paths are UTF-16; "\" and "/" both separate, and a run of separators acts as one.
// Every failing call leaves a Win32 error code for LastFileError(), read right after it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

// Win32 error codes.
inline constexpr std::uint32_t kErrorSuccess = 0;
inline constexpr std::uint32_t kErrorFileNotFound = 2;
inline constexpr std::uint32_t kErrorPathNotFound = 3;
inline constexpr std::uint32_t kErrorTooManyOpenFiles = 4;
inline constexpr std::uint32_t kErrorAccessDenied = 5;
inline constexpr std::uint32_t kErrorInvalidHandle = 6;
inline constexpr std::uint32_t kErrorNotEnoughMemory = 8;
inline constexpr std::uint32_t kErrorNotSameDevice = 17;
inline constexpr std::uint32_t kErrorWriteProtect = 19;
inline constexpr std::uint32_t kErrorSharingViolation = 32;
inline constexpr std::uint32_t kErrorHandleDiskFull = 39;
inline constexpr std::uint32_t kErrorFileExists = 80;
inline constexpr std::uint32_t kErrorInvalidParameter = 87;
inline constexpr std::uint32_t kErrorDiskFull = 112;
inline constexpr std::uint32_t kErrorInvalidName = 123;
inline constexpr std::uint32_t kErrorNegativeSeek = 131;
inline constexpr std::uint32_t kErrorDirNotEmpty = 145;
inline constexpr std::uint32_t kErrorAlreadyExists = 183;
inline constexpr std::uint32_t kErrorFilenameExcedRange = 206;
inline constexpr std::uint32_t kErrorDirectory = 267;
inline constexpr std::uint32_t kErrorNoMoreFiles = 18;

// File attribute bits.
inline constexpr std::uint32_t kAttributeReadOnly = 0x1;
inline constexpr std::uint32_t kAttributeHidden = 0x2;
inline constexpr std::uint32_t kAttributeDirectory = 0x10;
inline constexpr std::uint32_t kAttributeArchive = 0x20;
inline constexpr std::uint32_t kAttributeNormal = 0x80;

std::uint32_t LastFileError();
void SetLastFileError(std::uint32_t error);

// What a directory search or an information query reports about one object.
// Times are FILETIME ticks (100 ns since 1601-01-01, UTC).
struct FileRecord {
    std::uint32_t attributes = 0;
    std::uint64_t creationTime = 0;
    std::uint64_t lastAccessTime = 0;
    std::uint64_t lastWriteTime = 0;
    std::uint64_t size = 0;
};

struct FindRecord : FileRecord {
    std::u16string name; // long name, without the folder
};

enum class FileAccess { Read, Write, ReadWrite, Attributes };
enum class FileShare { None, Read, ReadWrite };
enum class FileDisposition { OpenExisting, CreateNew };

struct OpenOptions {
    FileAccess access = FileAccess::Read;
    FileShare share = FileShare::ReadWrite;
    FileDisposition disposition = FileDisposition::OpenExisting;
    std::uint32_t attributes = kAttributeNormal; // for CreateNew: normal or read-only
    bool directory = false; // open a directory for its attributes (backup semantics)
    // Others may delete or rename the file while it is open (FILE_SHARE_DELETE); the open
    // file goes on reading and writing what it opened.
    bool shareDelete = false;
};

// Move-only owner of an open file or directory.
class File {
  public:
    File() = default;
    ~File();
    File(File&& other) noexcept;
    File& operator=(File&& other) noexcept;
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    // On failure the result is not open and LastFileError() tells why.
    static File Open(std::u16string_view path, const OpenOptions& options);

    bool IsOpen() const;
    // A 32-bit value that identifies this open file among the process's open files.
    std::uint32_t Id() const { return id_; }

    bool GetInformation(FileRecord& out) const;
    bool GetSize(std::uint64_t& size) const;
    bool Seek(std::uint64_t position, std::uint64_t* newPosition = nullptr);
    bool Read(void* buffer, std::uint32_t count, std::uint32_t& read);
    bool Write(const void* data, std::uint32_t count, std::uint32_t& written);
    // Positioned transfers; they leave the file position unspecified.
    bool ReadAt(std::uint64_t offset, void* buffer, std::uint32_t count, std::uint32_t& read);
    bool WriteAt(std::uint64_t offset, const void* data, std::uint32_t count,
                 std::uint32_t& written);
    bool SetEndOfFile();
    // Null pointers leave that time as it is.
    bool GetTimes(std::uint64_t* creation, std::uint64_t* lastAccess,
                  std::uint64_t* lastWrite) const;
    bool SetTimes(const std::uint64_t* creation, const std::uint64_t* lastAccess,
                  const std::uint64_t* lastWrite);
    bool Flush();
    // Starts writing the range's changed data to the disk without waiting, so that a later
    // Flush has less left to wait for. Only a hint: nothing is reported, and on Windows, which
    // has no such call, nothing happens.
    void StartFlush(std::uint64_t offset, std::uint64_t count);
    void Close();

  private:
    std::intptr_t handle_ = -1;
    std::uint32_t id_ = 0;
    void* state_ = nullptr; // platform bookkeeping (share-mode emulation on POSIX)
};

// Move-only directory search: FindFirstFileW / FindNextFileW.
class FindSearch {
  public:
    FindSearch() = default;
    ~FindSearch();
    FindSearch(FindSearch&& other) noexcept;
    FindSearch& operator=(FindSearch&& other) noexcept;
    FindSearch(const FindSearch&) = delete;
    FindSearch& operator=(const FindSearch&) = delete;

    // `pattern` is a folder followed by "*.*" (every entry), or a path naming one object.
    // False (with the error) when nothing matches or the folder cannot be read.
    bool First(std::u16string_view pattern, FindRecord& out);
    // False with kErrorNoMoreFiles at the end.
    bool Next(FindRecord& out);
    void Close();

  private:
    std::intptr_t handle_ = -1;
    void* state_ = nullptr;
};

// Names one object of a volume while it exists (volume serial or device, file index or inode).
struct FileIdentity {
    std::uint64_t volume = 0;
    std::uint64_t index = 0;
    bool operator==(const FileIdentity&) const = default;
};

// What File::Open with attribute access and read-write sharing (`directory` as in OpenOptions:
// without it a folder fails with access denied) followed by GetInformation would report, and
// the object's identity when asked; on POSIX one stat instead of open, fstat and close.
bool GetPathInformation(std::u16string_view path, bool directory, FileRecord& out,
                        FileIdentity* identity = nullptr);

bool GetPathAttributes(std::u16string_view path, std::uint32_t& attributes);
// Sets the attribute bits of a file or folder. POSIX keeps only the read-only bit (as the owner's
// write permission); hidden and the other bits have no counterpart there and are accepted as set.
bool SetPathAttributes(std::u16string_view path, std::uint32_t attributes);
bool RemoveFile(std::u16string_view path);
bool MakeDirectory(std::u16string_view path);
bool RemoveEmptyDirectory(std::u16string_view path);
// Never replaces an existing target (error 183 or 80); directories move within one volume.
bool MovePath(std::u16string_view from, std::u16string_view to);
// Moves a file onto `to`, replacing what is there in one step (settings files are saved so).
bool ReplacePath(std::u16string_view from, std::u16string_view to);

bool GetVolumeBytesPerSector(std::u16string_view path, std::uint32_t& bytesPerSector);
bool GetVolumeFreeSpace(std::u16string_view path, std::uint64_t& totalBytes,
                        std::uint64_t& freeBytes, std::uint64_t& availableBytes);
// Whether names in the folder at `path` that differ only in case name one object, so that they
// must be compared ignoring case: always on Windows; on POSIX for FAT and exFAT volumes and for
// folders with case folding (ext4, f2fs), else not (also when the folder cannot be asked).
bool FolderIgnoresCase(std::u16string_view path);

// The per-user Documents folder, without a trailing separator.
bool DocumentsFolder(bool create, std::u16string& out);
bool CurrentDirectory(std::u16string& out);
// Folder of the running executable, with a trailing separator.
bool ExecutableFolder(std::u16string& out);

// The platform's native separator ("\" on Windows, "/" on POSIX).
char16_t NativeSeparator();

} // namespace platform
