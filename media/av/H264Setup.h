#pragma once
// What of an H.264 stream's setup data (the avcC record of MP4, FLV and Matroska) decides how its
// pictures decode: the sequence parameter sets read up to their display information, plus the
// reordering limits of that information, and the picture parameter sets whole. The level the
// stream claims, its clock (timing), its aspect, colour and buffering hints are left out: two
// streams that differ only there decode alike with either's setup, and the properties that
// show differently (aspect, colour, frame rate) are compared on their own.

#include <cstddef>
#include <cstdint>
#include <string>

namespace quilmer {

// "crc32:..." of the decoding part of an avcC record; "" when the data is not an avcC record or
// holds something this reading does not follow (scaling matrices, a broken set): the caller
// then compares the whole data.
std::string H264DecodingSetupHash(const std::uint8_t* data, std::size_t size);

}  // namespace quilmer
