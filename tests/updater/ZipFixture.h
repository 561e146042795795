#pragma once
// Builds zip archives for the tests at run time with minizip's writer, so no binary archive is
// kept in the repository. Damaged archives are made by patching the bytes afterwards.

#include <minizip/zip.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace quilmer::testing {

struct ZipEntry {
    std::string name;
    std::string content;
    bool deflate = true;
    std::uint32_t unixMode = 0;  // 0: written as if made on a system without permissions
    // DOS date and time: 2011-10-22 12:34:56 by default.
    int year = 2011, month = 10, day = 22, hour = 12, minute = 34, second = 56;
    // The packer's system in "version made by": -1 means Unix when unixMode is set, else MS-DOS.
    int madeByHost = -1;
};

inline bool MakeZip(const std::string& path, const std::vector<ZipEntry>& entries) {
    zipFile zf = zipOpen64(path.c_str(), APPEND_STATUS_CREATE);
    if (!zf) return false;
    bool ok = true;
    for (const auto& e : entries) {
        zip_fileinfo info{};
        info.tmz_date.tm_year = static_cast<uInt>(e.year);
        info.tmz_date.tm_mon = static_cast<uInt>(e.month - 1);
        info.tmz_date.tm_mday = static_cast<uInt>(e.day);
        info.tmz_date.tm_hour = static_cast<uInt>(e.hour);
        info.tmz_date.tm_min = static_cast<uInt>(e.minute);
        info.tmz_date.tm_sec = static_cast<uInt>(e.second);
        info.external_fa = static_cast<uLong>(e.unixMode) << 16;
        uLong host = e.madeByHost >= 0 ? static_cast<uLong>(e.madeByHost) : (e.unixMode ? 3u : 0u);
        uLong madeBy = (host << 8) | 20u;
        int method = e.deflate ? Z_DEFLATED : 0;
        if (zipOpenNewFileInZip4_64(zf, e.name.c_str(), &info, nullptr, 0, nullptr, 0, nullptr, method,
                                    Z_DEFAULT_COMPRESSION, 0, -MAX_WBITS, DEF_MEM_LEVEL, Z_DEFAULT_STRATEGY,
                                    nullptr, 0, madeBy, 0, 0) != ZIP_OK) {
            ok = false;
            break;
        }
        if (!e.content.empty() &&
            zipWriteInFileInZip(zf, e.content.data(), static_cast<unsigned>(e.content.size())) != ZIP_OK)
            ok = false;
        zipCloseFileInZip(zf);
    }
    return zipClose(zf, nullptr) == ZIP_OK && ok;
}

inline std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

inline void WriteAll(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// Replaces the first occurrence of `from` in the file by `to` (same length). False when absent.
inline bool PatchBytes(const std::string& path, const std::string& from, const std::string& to) {
    std::string bytes = ReadAll(path);
    std::size_t at = bytes.find(from);
    if (at == std::string::npos || from.size() != to.size()) return false;
    bytes.replace(at, from.size(), to);
    WriteAll(path, bytes);
    return true;
}

}  // namespace quilmer::testing
