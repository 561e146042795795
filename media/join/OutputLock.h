#pragma once
// Keeps two joins from writing the same output at once, in one program or in several (the
// command-line joiner and the main program alike). The lock is a flock on a small file beside
// the output: the kernel drops it when its holder ends, however it ends, so a crashed join
// never blocks the next one.

#include <string>

namespace quilmer {

class OutputLock {
public:
    OutputLock() = default;
    ~OutputLock() { Release(); }
    OutputLock(const OutputLock&) = delete;
    OutputLock& operator=(const OutputLock&) = delete;

    // Takes the lock for outputPath without waiting. Returns an empty string when it is ours, or
    // the reason shown to the user (another join holds it, or the lock file cannot be made).
    std::wstring Acquire(const std::wstring& outputPath);
    // Gives the lock up and removes the lock file.
    void Release();
    bool Held() const { return fd_ >= 0; }

    // The lock file that belongs to an output path.
    static std::wstring LockPathFor(const std::wstring& outputPath);

private:
    int fd_ = -1;
    std::string path_;
};

}  // namespace quilmer
