#include "foundation/Exceptions.h"

#include "foundation/FileUtil.h"
#include "foundation/Strings.h"
#include "foundation/TextTranslator.h"

#include <cerrno>

namespace quilmer {

namespace {

std::wstring WithName(std::wstring text, const std::wstring& name) {
    // Substitute, not printf: a file name may itself hold '%'.
    ReplaceAll(text, L"%s", name);
    return text;
}

}  // namespace

const char* CZ4RException::what() const noexcept {
    try {
        what_ = NativePath(ErrorMessage());  // a file name with stray bytes must not empty the text
    } catch (...) {
        return "quilmer exception";
    }
    return what_.c_str();
}

int CZ4RFileException::CauseFromErrno(int error) {
    switch (error) {
        case 0:
            return kNone;
        case ENOENT:
            return kFileNotFound;
        case ENOTDIR:
        case ENAMETOOLONG:
        case ELOOP:
        case ENXIO:
        case ENODEV:
        case EXDEV:
            return kBadPath;
        case EMFILE:
        case ENFILE:
            return kTooManyOpenFiles;
        case EACCES:
        case EPERM:
        case EROFS:
        case EEXIST:
        case EISDIR:
            return kAccessDenied;
        case EBADF:
            return kInvalidFile;
        case ENOTEMPTY:
            return kRemoveCurrentDir;
        case EMLINK:
            return kDirectoryFull;
        case ESPIPE:
            return kBadSeek;
        case EIO:
            return kHardIo;
        case EBUSY:
        case ETXTBSY:
            return kSharingViolation;
        case EAGAIN:
        case ENOLCK:
        case EDEADLK:
            return kLockViolation;
        case ENOSPC:
        case EDQUOT:
        case EFBIG:
            return kDiskFull;
        case EOVERFLOW:
            return kEndOfFile;
        case EINVAL:
            return kInvalidParameter;
        default:
            return kGeneric;
    }
}

std::wstring CZ4RFileException::ErrorMessage() const {
    switch (cause_) {
        case kNone:
            return Tr(L"No error occurred.");
        case kFileNotFound:
            return WithName(Tr(L"%s was not found."), fileName_);
        case kBadPath:
            return WithName(Tr(L"%s contains an invalid path."), fileName_);
        case kTooManyOpenFiles:
            return WithName(Tr(L"%s could not be opened because there are too many open files."), fileName_);
        case kAccessDenied:
            return WithName(Tr(L"Access to %s was denied."), fileName_);
        case kInvalidFile:
            return WithName(Tr(L"An invalid file handle was associated with %s."), fileName_);
        case kRemoveCurrentDir:
            return WithName(Tr(L"%s could not be removed because it is the current directory."), fileName_);
        case kDirectoryFull:
            return WithName(Tr(L"%s could not be created because the directory is full."), fileName_);
        case kBadSeek:
            return WithName(Tr(L"Seek failed on %s"), fileName_);
        case kHardIo:
            return WithName(Tr(L"A hardware I/O error was reported while accessing %s."), fileName_);
        case kSharingViolation:
            return WithName(Tr(L"A sharing violation occurred while accessing %s."), fileName_);
        case kLockViolation:
            return WithName(Tr(L"A locking violation occurred while accessing %s."), fileName_);
        case kDiskFull:
            return WithName(Tr(L"Disk full while accessing %s."), fileName_);
        case kEndOfFile:
            return WithName(Tr(L"An attempt was made to access %s past its end."), fileName_);
        case kInvalidParameter:
            return Tr(L"Invalid Parameter.");
        default:
            return WithName(Tr(L"An unknown error occurred while accessing %s."), fileName_);
    }
}

std::wstring CZ4RArchiveException::ErrorMessage() const {
    switch (cause_) {
        case kNone:
            return Tr(L"No error occurred.");
        case kReadOnly:
            return WithName(Tr(L"An attempt was made to write to the reading %s."), name_);
        case kEndOfFile:
            return WithName(Tr(L"An attempt was made to access %s past its end."), name_);
        case kWriteOnly:
            return WithName(Tr(L"An attempt was made to read from the writing %s."), name_);
        case kBadIndex:
            return WithName(Tr(L"%s has a bad format."), name_);
        case kBadClass:
            return WithName(Tr(L"%s contained an unexpected object."), name_);
        case kBadSchema:
            return WithName(Tr(L"%s contains an incorrect schema."), name_);
        default:
            return WithName(Tr(L"An unknown error occurred while accessing %s."), name_);
    }
}

std::wstring CZ4RMemoryException::ErrorMessage() const { return Tr(L"Out of memory."); }

std::wstring CZ4RNotSupportedException::ErrorMessage() const { return Tr(L"Operation not supported."); }

}  // namespace quilmer
