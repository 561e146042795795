#pragma once
// A temporary file that becomes its target only when committed: write it, then Commit(target)
// replaces the target in one rename, so nobody ever sees a half-written target. A temporary
// file that is never committed is removed when the object goes.

#include <cstddef>
#include <string>

namespace quilmer {

class CTempFile {
public:
    CTempFile() = default;
    ~CTempFile();
    CTempFile(const CTempFile&) = delete;
    CTempFile& operator=(const CTempFile&) = delete;

    // Creates a new, unique file named "TFR..." in folder (the system's temporary folder when
    // empty), opened for reading and writing, not inherited by child processes. False on any
    // failure.
    bool Create(const std::wstring& folder = {});

    // Closes the file. Without a target it deletes the temporary file. With one, it renames the
    // temporary file over the target (replacing it atomically); on failure the temporary file
    // stays on disk and the result is false.
    bool Commit(const std::wstring& target = {});

    bool Write(const void* data, std::size_t size);
    bool Write(const std::string& data) { return Write(data.data(), data.size()); }

    int Handle() const { return fd_; }
    bool IsOpen() const { return fd_ >= 0; }
    const std::wstring& FileName() const { return fileName_; }

private:
    int fd_ = -1;
    std::wstring fileName_;
};

}  // namespace quilmer
