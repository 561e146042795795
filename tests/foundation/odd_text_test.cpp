// Messages that carry a file name with bytes that are not UTF-8 keep the whole text (they used
// to come out empty).

#include "foundation/Exceptions.h"
#include "foundation/FileUtil.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>

namespace quilmer {
namespace {

TEST(OddText, AnExceptionAboutANameWithStrayBytesKeepsItsText) {
    const std::string name = "/tmp/bad\xFF\xFE name.flv";
    CZ4RFileException error = CZ4RFileException::FromErrno(ENOENT, WidePath(name));
    std::string what = error.what();
    EXPECT_NE(what.find(name), std::string::npos) << what;
}

}  // namespace
}  // namespace quilmer
