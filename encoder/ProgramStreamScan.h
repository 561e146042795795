#pragma once
// Reads the layout of a file made of byte-joined MPEG program streams (the engine's concatenation
// of intermediates): where each one begins and ends, and what its picture stream holds. Each
// intermediate restarts its clock, so a decoder reading the joined file as one stream meets a
// timestamp jump at every boundary; knowing the parts lets the final encode lay them end to end
// exactly, frame by frame.

#include <cstdint>
#include <string>
#include <vector>

namespace quilmer::adapter {

struct ProgramStreamPart {
    std::uint64_t begin = 0, end = 0;  // byte range in the file, end exclusive
    std::int64_t firstTimestamp = -1;  // 90 kHz: the earliest presentation time of any stream
    std::int64_t videoStart = -1;      // 90 kHz: the first picture's presentation time
    int pictures = 0;
    int width = 0, height = 0;
    int rateNum = 0, rateDen = 0;  // frames per second as a fraction; 0 when unknown
};

// Empty when the file is not a program stream the scan understands, or holds no picture.
std::vector<ProgramStreamPart> ScanProgramStream(const std::string& path);
// The same on bytes in memory.
std::vector<ProgramStreamPart> ScanProgramStream(const unsigned char* data, std::size_t size);

// The seconds a part's pictures last.
double PictureSeconds(const ProgramStreamPart& part);

}  // namespace quilmer::adapter
