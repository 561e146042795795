// Which program folders the package manager owns, so that the updater leaves them alone.

#include <gtest/gtest.h>

#include <fstream>

#include "../support/ScratchFolder.h"
#include "app/core/PackagedInstall.h"

using namespace quilmer;

TEST(PackagedInstallTest, FoldersBelowUsrOrWithTheMarkerArePackagedOthersUpdateThemselves) {
    EXPECT_TRUE(IsPackagedProgramFolder(L"/usr/lib/quilmer/"));
    EXPECT_TRUE(IsPackagedProgramFolder(L"/usr/share/quilmer/"));
    EXPECT_FALSE(IsPackagedProgramFolder(L"/usr/local/quilmer/"))
        << "the administrator's own, installed by hand";
    EXPECT_FALSE(IsPackagedProgramFolder(L"/usrx/quilmer/"));
    EXPECT_FALSE(IsPackagedProgramFolder(L""));

    test::ScratchFolder folder("quilmer-packaged");
    EXPECT_FALSE(IsPackagedProgramFolder(folder.Wide()));
    std::ofstream(folder.Native("packaged-by")) << "debian\n";
    EXPECT_TRUE(IsPackagedProgramFolder(folder.Wide()));
    EXPECT_TRUE(IsPackagedProgramFolder(WidePath(folder.Path()))) << "without the trailing slash";
}
