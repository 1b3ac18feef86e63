// Files, directory searches, volumes and well-known folders over the Win32 API.
#include "common/platform/FileSystem.h"

#include <windows.h>
#include <shlobj.h>

#include <atomic>
#include <string>
#include <vector>

namespace platform {

namespace {

// wchar_t is UTF-16 on Windows; the API wants a terminated copy of the view.
std::wstring WidePath(std::u16string_view path) {
    return std::wstring(reinterpret_cast<const wchar_t*>(path.data()), path.size());
}

std::u16string FromWide(const wchar_t* text, std::size_t length) {
    return std::u16string(reinterpret_cast<const char16_t*>(text), length);
}

std::uint64_t Ticks(const FILETIME& time) {
    return (static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

FILETIME ToFileTime(std::uint64_t ticks) {
    FILETIME time;
    time.dwLowDateTime = static_cast<DWORD>(ticks);
    time.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
    return time;
}

std::uint64_t Combine(DWORD high, DWORD low) {
    return (static_cast<std::uint64_t>(high) << 32) | low;
}

HANDLE AsHandle(std::intptr_t handle) {
    return reinterpret_cast<HANDLE>(handle);
}

bool Fail(std::uint32_t code) {
    ::SetLastError(code);
    return false;
}

// What an open File may do, kept in its state_ word. Wine lets a read handle set times or the
// end of file (or fails with 87), so these are checked here to give Windows' answer everywhere.
constexpr std::uintptr_t kStateWriteData = 0x1;
constexpr std::uintptr_t kStateWriteAttributes = 0x2;

std::uintptr_t StateFor(FileAccess access) {
    switch (access) {
    case FileAccess::Read:
        return 0;
    case FileAccess::Write:
    case FileAccess::ReadWrite:
        return kStateWriteData | kStateWriteAttributes;
    case FileAccess::Attributes:
        return kStateWriteAttributes;
    }
    return 0;
}

bool Allows(std::intptr_t handle, void* state, std::uintptr_t needed) {
    if (handle == -1)
        return Fail(ERROR_INVALID_HANDLE);
    if ((reinterpret_cast<std::uintptr_t>(state) & needed) != needed)
        return Fail(ERROR_ACCESS_DENIED);
    return true;
}

std::atomic<std::uint32_t> gLastFileId{0};

std::uint32_t NextFileId() {
    std::uint32_t id = 0;
    while (id == 0)
        id = gLastFileId.fetch_add(1, std::memory_order_relaxed) + 1;
    return id;
}

DWORD DesiredAccess(FileAccess access) {
    switch (access) {
    case FileAccess::Read:
        return GENERIC_READ;
    case FileAccess::Write:
        return GENERIC_WRITE;
    case FileAccess::ReadWrite:
        return GENERIC_READ | GENERIC_WRITE;
    case FileAccess::Attributes:
        return FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES;
    }
    return GENERIC_READ;
}

DWORD ShareMode(FileShare share) {
    switch (share) {
    case FileShare::None:
        return 0;
    case FileShare::Read:
        return FILE_SHARE_READ;
    case FileShare::ReadWrite:
        return FILE_SHARE_READ | FILE_SHARE_WRITE;
    }
    return 0;
}

void FillRecord(const WIN32_FIND_DATAW& data, FindRecord& out) {
    out.attributes = data.dwFileAttributes;
    out.creationTime = Ticks(data.ftCreationTime);
    out.lastAccessTime = Ticks(data.ftLastAccessTime);
    out.lastWriteTime = Ticks(data.ftLastWriteTime);
    out.size = Combine(data.nFileSizeHigh, data.nFileSizeLow);
    out.name = FromWide(data.cFileName, wcsnlen(data.cFileName, MAX_PATH));
}

// The root of the volume that holds `path` ("C:\", "\\server\share\"), as
// GetDiskFreeSpaceW wants it.
bool VolumeRoot(std::u16string_view path, std::wstring& root) {
    const std::wstring wide = WidePath(path);
    std::vector<wchar_t> buffer(wide.size() + MAX_PATH + 1);
    if (!::GetVolumePathNameW(wide.c_str(), buffer.data(), static_cast<DWORD>(buffer.size())))
        return false;
    root.assign(buffer.data());
    return true;
}

} // namespace

std::uint32_t LastFileError() {
    return ::GetLastError();
}

void SetLastFileError(std::uint32_t error) {
    ::SetLastError(error);
}

File::~File() {
    Close();
}

File::File(File&& other) noexcept : handle_(other.handle_), id_(other.id_), state_(other.state_) {
    other.handle_ = -1;
    other.id_ = 0;
    other.state_ = nullptr;
}

File& File::operator=(File&& other) noexcept {
    if (this != &other) {
        Close();
        handle_ = other.handle_;
        id_ = other.id_;
        state_ = other.state_;
        other.handle_ = -1;
        other.id_ = 0;
        other.state_ = nullptr;
    }
    return *this;
}

File File::Open(std::u16string_view path, const OpenOptions& options) {
    File file;
    const std::wstring wide = WidePath(path);
    const DWORD disposition =
        options.disposition == FileDisposition::CreateNew ? CREATE_NEW : OPEN_EXISTING;
    DWORD flags =
        (options.attributes & kAttributeReadOnly) ? FILE_ATTRIBUTE_READONLY : FILE_ATTRIBUTE_NORMAL;
    if (options.directory)
        flags |= FILE_FLAG_BACKUP_SEMANTICS;
    const DWORD share = ShareMode(options.share) | (options.shareDelete ? FILE_SHARE_DELETE : 0);
    const HANDLE handle = ::CreateFileW(wide.c_str(), DesiredAccess(options.access), share, nullptr,
                                        disposition, flags, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return file;
    file.handle_ = reinterpret_cast<std::intptr_t>(handle);
    file.id_ = NextFileId();
    file.state_ = reinterpret_cast<void*>(StateFor(options.access));
    // Wine running as root opens read-only files for writing (Unix permissions do not stop
    // root); Windows refuses with 5, and so must this layer.
    if ((StateFor(options.access) & kStateWriteData) && disposition == OPEN_EXISTING) {
        BY_HANDLE_FILE_INFORMATION info;
        if (::GetFileInformationByHandle(handle, &info) &&
            (info.dwFileAttributes & FILE_ATTRIBUTE_READONLY) &&
            !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
            file.Close();
            ::SetLastError(ERROR_ACCESS_DENIED);
        }
    }
    return file;
}

bool File::IsOpen() const {
    return handle_ != -1;
}

bool File::GetInformation(FileRecord& out) const {
    if (!IsOpen())
        return Fail(ERROR_INVALID_HANDLE);
    BY_HANDLE_FILE_INFORMATION info;
    if (!::GetFileInformationByHandle(AsHandle(handle_), &info))
        return false;
    out.attributes = info.dwFileAttributes;
    out.creationTime = Ticks(info.ftCreationTime);
    out.lastAccessTime = Ticks(info.ftLastAccessTime);
    out.lastWriteTime = Ticks(info.ftLastWriteTime);
    out.size = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                   ? 0
                   : Combine(info.nFileSizeHigh, info.nFileSizeLow);
    return true;
}

bool GetPathInformation(std::u16string_view path, bool directory, FileRecord& out,
                        FileIdentity* identity) {
    // The same open as File::Open with attribute access, so that the answers stay the same.
    const HANDLE handle = ::CreateFileW(
        WidePath(path).c_str(), DesiredAccess(FileAccess::Attributes),
        ShareMode(FileShare::ReadWrite), nullptr, OPEN_EXISTING,
        FILE_ATTRIBUTE_NORMAL | (directory ? FILE_FLAG_BACKUP_SEMANTICS : 0), nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    BY_HANDLE_FILE_INFORMATION info;
    const bool ok = ::GetFileInformationByHandle(handle, &info) != FALSE;
    const DWORD error = ::GetLastError();
    ::CloseHandle(handle);
    if (!ok)
        return Fail(error);
    out.attributes = info.dwFileAttributes;
    out.creationTime = Ticks(info.ftCreationTime);
    out.lastAccessTime = Ticks(info.ftLastAccessTime);
    out.lastWriteTime = Ticks(info.ftLastWriteTime);
    out.size = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                   ? 0
                   : Combine(info.nFileSizeHigh, info.nFileSizeLow);
    if (identity != nullptr) {
        identity->volume = info.dwVolumeSerialNumber;
        identity->index = Combine(info.nFileIndexHigh, info.nFileIndexLow);
    }
    return true;
}

bool File::GetSize(std::uint64_t& size) const {
    if (!IsOpen())
        return Fail(ERROR_INVALID_HANDLE);
    LARGE_INTEGER value;
    if (!::GetFileSizeEx(AsHandle(handle_), &value))
        return false;
    size = static_cast<std::uint64_t>(value.QuadPart);
    return true;
}

bool File::Seek(std::uint64_t position, std::uint64_t* newPosition) {
    if (!IsOpen())
        return Fail(ERROR_INVALID_HANDLE);
    LARGE_INTEGER distance;
    distance.QuadPart = static_cast<LONGLONG>(position);
    LARGE_INTEGER reached;
    if (!::SetFilePointerEx(AsHandle(handle_), distance, &reached, FILE_BEGIN))
        return false;
    if (newPosition != nullptr)
        *newPosition = static_cast<std::uint64_t>(reached.QuadPart);
    return true;
}

bool File::Read(void* buffer, std::uint32_t count, std::uint32_t& read) {
    if (!IsOpen())
        return Fail(ERROR_INVALID_HANDLE);
    DWORD done = 0;
    const BOOL ok = ::ReadFile(AsHandle(handle_), buffer, count, &done, nullptr);
    read = done;
    return ok != FALSE;
}

bool File::Write(const void* data, std::uint32_t count, std::uint32_t& written) {
    if (!IsOpen())
        return Fail(ERROR_INVALID_HANDLE);
    DWORD done = 0;
    const BOOL ok = ::WriteFile(AsHandle(handle_), data, count, &done, nullptr);
    written = done;
    return ok != FALSE;
}

bool File::ReadAt(std::uint64_t offset, void* buffer, std::uint32_t count, std::uint32_t& read) {
    if (!IsOpen())
        return Fail(ERROR_INVALID_HANDLE);
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD done = 0;
    const BOOL ok = ::ReadFile(AsHandle(handle_), buffer, count, &done, &at);
    read = done;
    if (ok)
        return true;
    // A positioned read on a synchronous handle reports the end of the file as an error.
    if (::GetLastError() == ERROR_HANDLE_EOF) {
        ::SetLastError(ERROR_SUCCESS);
        return true;
    }
    return false;
}

bool File::WriteAt(std::uint64_t offset, const void* data, std::uint32_t count,
                   std::uint32_t& written) {
    if (!IsOpen())
        return Fail(ERROR_INVALID_HANDLE);
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD done = 0;
    const BOOL ok = ::WriteFile(AsHandle(handle_), data, count, &done, &at);
    written = done;
    return ok != FALSE;
}

bool File::SetEndOfFile() {
    if (!Allows(handle_, state_, kStateWriteData))
        return false;
    return ::SetEndOfFile(AsHandle(handle_)) != FALSE;
}

bool File::GetTimes(std::uint64_t* creation, std::uint64_t* lastAccess,
                    std::uint64_t* lastWrite) const {
    if (!IsOpen())
        return Fail(ERROR_INVALID_HANDLE);
    FILETIME created;
    FILETIME accessed;
    FILETIME written;
    if (!::GetFileTime(AsHandle(handle_), &created, &accessed, &written))
        return false;
    if (creation != nullptr)
        *creation = Ticks(created);
    if (lastAccess != nullptr)
        *lastAccess = Ticks(accessed);
    if (lastWrite != nullptr)
        *lastWrite = Ticks(written);
    return true;
}

bool File::SetTimes(const std::uint64_t* creation, const std::uint64_t* lastAccess,
                    const std::uint64_t* lastWrite) {
    if (!Allows(handle_, state_, kStateWriteAttributes))
        return false;
    FILETIME created;
    FILETIME accessed;
    FILETIME written;
    if (creation != nullptr)
        created = ToFileTime(*creation);
    if (lastAccess != nullptr)
        accessed = ToFileTime(*lastAccess);
    if (lastWrite != nullptr)
        written = ToFileTime(*lastWrite);
    return ::SetFileTime(AsHandle(handle_), creation != nullptr ? &created : nullptr,
                         lastAccess != nullptr ? &accessed : nullptr,
                         lastWrite != nullptr ? &written : nullptr) != FALSE;
}

bool File::Flush() {
    if (!IsOpen())
        return Fail(ERROR_INVALID_HANDLE);
    return ::FlushFileBuffers(AsHandle(handle_)) != FALSE;
}

void File::StartFlush(std::uint64_t, std::uint64_t) {}

void File::Close() {
    if (handle_ == -1)
        return;
    ::CloseHandle(AsHandle(handle_));
    handle_ = -1;
    id_ = 0;
    state_ = nullptr;
}

FindSearch::~FindSearch() {
    Close();
}

FindSearch::FindSearch(FindSearch&& other) noexcept : handle_(other.handle_), state_(other.state_) {
    other.handle_ = -1;
    other.state_ = nullptr;
}

FindSearch& FindSearch::operator=(FindSearch&& other) noexcept {
    if (this != &other) {
        Close();
        handle_ = other.handle_;
        state_ = other.state_;
        other.handle_ = -1;
        other.state_ = nullptr;
    }
    return *this;
}

bool FindSearch::First(std::u16string_view pattern, FindRecord& out) {
    Close();
    const std::wstring wide = WidePath(pattern);
    WIN32_FIND_DATAW data;
    // The basic level skips the 8.3 names nobody here reads; large fetch saves round trips.
    const HANDLE handle =
        ::FindFirstFileExW(wide.c_str(), FindExInfoBasic, &data, FindExSearchNameMatch, nullptr,
                           FIND_FIRST_EX_LARGE_FETCH);
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    handle_ = reinterpret_cast<std::intptr_t>(handle);
    FillRecord(data, out);
    return true;
}

bool FindSearch::Next(FindRecord& out) {
    if (handle_ == -1)
        return Fail(ERROR_INVALID_HANDLE);
    WIN32_FIND_DATAW data;
    if (!::FindNextFileW(AsHandle(handle_), &data))
        return false;
    FillRecord(data, out);
    return true;
}

void FindSearch::Close() {
    if (handle_ == -1)
        return;
    ::FindClose(AsHandle(handle_));
    handle_ = -1;
}

bool GetPathAttributes(std::u16string_view path, std::uint32_t& attributes) {
    const DWORD value = ::GetFileAttributesW(WidePath(path).c_str());
    if (value == INVALID_FILE_ATTRIBUTES)
        return false;
    attributes = value;
    return true;
}

bool SetPathAttributes(std::u16string_view path, std::uint32_t attributes) {
    return ::SetFileAttributesW(WidePath(path).c_str(), attributes) != FALSE;
}

bool RemoveFile(std::u16string_view path) {
    return ::DeleteFileW(WidePath(path).c_str()) != FALSE;
}

bool MakeDirectory(std::u16string_view path) {
    return ::CreateDirectoryW(WidePath(path).c_str(), nullptr) != FALSE;
}

bool RemoveEmptyDirectory(std::u16string_view path) {
    return ::RemoveDirectoryW(WidePath(path).c_str()) != FALSE;
}

bool MovePath(std::u16string_view from, std::u16string_view to) {
    return ::MoveFileW(WidePath(from).c_str(), WidePath(to).c_str()) != FALSE;
}

bool ReplacePath(std::u16string_view from, std::u16string_view to) {
    return ::MoveFileExW(WidePath(from).c_str(), WidePath(to).c_str(),
                         MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE;
}

bool GetVolumeBytesPerSector(std::u16string_view path, std::uint32_t& bytesPerSector) {
    std::wstring root;
    if (!VolumeRoot(path, root))
        return false;
    DWORD sectorsPerCluster = 0;
    DWORD sectorBytes = 0;
    DWORD freeClusters = 0;
    DWORD totalClusters = 0;
    if (!::GetDiskFreeSpaceW(root.c_str(), &sectorsPerCluster, &sectorBytes, &freeClusters,
                             &totalClusters))
        return false;
    bytesPerSector = sectorBytes;
    return true;
}

bool GetVolumeFreeSpace(std::u16string_view path, std::uint64_t& totalBytes,
                        std::uint64_t& freeBytes, std::uint64_t& availableBytes) {
    std::wstring root;
    if (!VolumeRoot(path, root))
        return false;
    ULARGE_INTEGER available;
    ULARGE_INTEGER total;
    ULARGE_INTEGER free;
    if (!::GetDiskFreeSpaceExW(root.c_str(), &available, &total, &free))
        return false;
    totalBytes = total.QuadPart;
    freeBytes = free.QuadPart;
    availableBytes = available.QuadPart;
    return true;
}

bool FolderIgnoresCase(std::u16string_view) {
    // Windows opens names ignoring case on every volume (per-folder case sensitivity is an
    // opt-in for Linux tools that this server does not serve).
    return true;
}

bool DocumentsFolder(bool create, std::u16string& out) {
    wchar_t buffer[MAX_PATH];
    const int folder = CSIDL_PERSONAL | (create ? CSIDL_FLAG_CREATE : 0);
    const HRESULT result = ::SHGetFolderPathW(nullptr, folder, nullptr, SHGFP_TYPE_CURRENT, buffer);
    if (result != S_OK)
        return Fail(create ? ERROR_ACCESS_DENIED : ERROR_PATH_NOT_FOUND);
    std::size_t length = wcsnlen(buffer, MAX_PATH);
    while (length > 3 && (buffer[length - 1] == L'\\' || buffer[length - 1] == L'/'))
        --length;
    out = FromWide(buffer, length);
    return true;
}

bool CurrentDirectory(std::u16string& out) {
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        const DWORD length =
            ::GetCurrentDirectoryW(static_cast<DWORD>(buffer.size()), buffer.data());
        if (length == 0)
            return false;
        if (length < buffer.size()) {
            out = FromWide(buffer.data(), length);
            return true;
        }
        buffer.resize(length);
    }
}

bool ExecutableFolder(std::u16string& out) {
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        const DWORD length =
            ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0)
            return false;
        if (length < buffer.size()) {
            std::wstring_view path(buffer.data(), length);
            const std::size_t separator = path.find_last_of(L"\\/");
            if (separator == std::wstring_view::npos)
                return Fail(ERROR_PATH_NOT_FOUND);
            out = FromWide(path.data(), separator + 1);
            return true;
        }
        buffer.resize(buffer.size() * 2);
    }
}

char16_t NativeSeparator() {
    return u'\\';
}

} // namespace platform
