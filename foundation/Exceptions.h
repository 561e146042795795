#pragma once
// The framework's exceptions. Most operations report failure by their result; these are raised
// only by foundation classes (paths that cannot be made absolute, file classes, serialisation).
// ErrorMessage() is the user-visible, translated text; what() is its UTF-8 form (a file name
// keeps its bytes, as NativePath gives them).

#include <exception>
#include <string>

namespace quilmer {

class CZ4RObject {
public:
    virtual ~CZ4RObject() = default;
};

class CZ4RException : public CZ4RObject, public std::exception {
public:
    virtual std::wstring ErrorMessage() const = 0;
    const char* what() const noexcept override;

private:
    mutable std::string what_;
};

class CZ4RSimpleTextException : public CZ4RException {
public:
    explicit CZ4RSimpleTextException(std::wstring text) : text_(std::move(text)) {}
    std::wstring ErrorMessage() const override { return text_; }

private:
    std::wstring text_;
};

class CZ4RFileException : public CZ4RException {
public:
    enum Cause : int {
        kNone = 0,
        kGeneric = 1,
        kFileNotFound = 2,
        kBadPath = 3,
        kTooManyOpenFiles = 4,
        kAccessDenied = 5,
        kInvalidFile = 6,
        kRemoveCurrentDir = 7,
        kDirectoryFull = 8,
        kBadSeek = 9,
        kHardIo = 10,
        kSharingViolation = 11,
        kLockViolation = 12,
        kDiskFull = 13,
        kEndOfFile = 14,
        kInvalidParameter = 15,
    };

    CZ4RFileException(int cause, std::wstring fileName, int osError = 0)
        : cause_(cause), fileName_(std::move(fileName)), osError_(osError) {}
    // The cause that fits an errno value (anything unlisted is kGeneric).
    static int CauseFromErrno(int error);
    static CZ4RFileException FromErrno(int error, std::wstring fileName) {
        return CZ4RFileException(CauseFromErrno(error), std::move(fileName), error);
    }

    int Cause() const { return cause_; }
    int OsError() const { return osError_; }
    const std::wstring& FileName() const { return fileName_; }
    // The cause's text with the file name in it; an unknown cause gives the generic text.
    std::wstring ErrorMessage() const override;

private:
    int cause_;
    std::wstring fileName_;
    int osError_;
};

class CZ4RArchiveException : public CZ4RException {
public:
    enum Cause : int {
        kNone = 0,
        kGeneric = 1,
        kReadOnly = 2,
        kEndOfFile = 3,
        kWriteOnly = 4,
        kBadIndex = 5,
        kBadClass = 6,
        kBadSchema = 7,
    };
    CZ4RArchiveException(int cause, std::wstring archiveName) : cause_(cause), name_(std::move(archiveName)) {}
    int Cause() const { return cause_; }
    std::wstring ErrorMessage() const override;

private:
    int cause_;
    std::wstring name_;
};

class CZ4RMemoryException : public CZ4RException {
public:
    std::wstring ErrorMessage() const override;
};

class CZ4RNotSupportedException : public CZ4RException {
public:
    std::wstring ErrorMessage() const override;
};

}  // namespace quilmer
