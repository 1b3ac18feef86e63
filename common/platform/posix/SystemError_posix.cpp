// System error texts for the Win32 codes that the POSIX platform layer reports.
#include "common/platform/SystemError.h"

#include "common/platform/FileSystem.h"

namespace platform {

namespace {

struct ErrorText {
    std::uint32_t code;
    const char16_t* text;
};

// The texts Windows gives for the same codes, so that both sides log alike.
constexpr ErrorText kErrorTexts[] = {
    {kErrorSuccess, u"The operation completed successfully."},
    {kErrorFileNotFound, u"The system cannot find the file specified."},
    {kErrorPathNotFound, u"The system cannot find the path specified."},
    {kErrorTooManyOpenFiles, u"The system cannot open the file."},
    {kErrorAccessDenied, u"Access is denied."},
    {kErrorInvalidHandle, u"The handle is invalid."},
    {kErrorNotEnoughMemory, u"Not enough memory resources are available to process this command."},
    {kErrorNotSameDevice, u"The system cannot move the file to a different disk drive."},
    {kErrorNoMoreFiles, u"There are no more files."},
    {kErrorWriteProtect, u"The media is write protected."},
    {kErrorSharingViolation,
     u"The process cannot access the file because it is being used by another process."},
    {kErrorHandleDiskFull, u"The disk is full."},
    {kErrorFileExists, u"The file exists."},
    {kErrorInvalidParameter, u"The parameter is incorrect."},
    {kErrorDiskFull, u"There is not enough space on the disk."},
    {kErrorInvalidName, u"The filename, directory name, or volume label syntax is incorrect."},
    {kErrorNegativeSeek,
     u"An attempt was made to move the file pointer before the beginning of the file."},
    {kErrorDirNotEmpty, u"The directory is not empty."},
    {kErrorAlreadyExists, u"Cannot create a file when that file already exists."},
    {kErrorFilenameExcedRange, u"The filename or extension is too long."},
    {kErrorDirectory, u"The directory name is invalid."},
};

} // namespace

std::u16string SystemErrorText(std::uint32_t code) {
    for (const ErrorText& entry : kErrorTexts) {
        if (entry.code == code)
            return entry.text;
    }
    return UnknownErrorText(code);
}

} // namespace platform
