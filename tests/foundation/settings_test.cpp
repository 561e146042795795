#include "foundation/FileUtil.h"
#include "foundation/Settings.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "tests/support/ScratchFolder.h"

using namespace quilmer;
using quilmer::test::ScratchFolder;
namespace fs = std::filesystem;

namespace {

std::vector<std::string> DamagedCopies(const ScratchFolder& dir) {
    std::vector<std::string> names;
    for (auto& entry : fs::directory_iterator(dir.Path()))
        if (entry.path().filename().string().find(".damaged-") != std::string::npos)
            names.push_back(entry.path().filename().string());
    return names;
}

}  // namespace

TEST(SettingsStore, TypedValuesRoundTripWithDefaults) {
    ScratchFolder dir;
    SettingsStore store(dir.Wide() + L"sub/settings.json");  // folder made on first write
    EXPECT_EQ(store.ReadString(L"Config", L"SaveTo", L"def"), L"def");
    EXPECT_EQ(store.ReadInt(L"Config", L"RunCount", 5), 5);
    ByteList bytes{9};
    EXPECT_FALSE(store.ReadBytes(L"Downloaded", L"ColumnsInfo", bytes));
    EXPECT_EQ(bytes, ByteList{9});

    ASSERT_TRUE(store.WriteString(L"Config", L"SaveTo", L"/v/caf\u00e9"));
    ASSERT_TRUE(store.WriteInt(L"Config", L"RunCount", -7));
    ASSERT_TRUE(store.WriteBytes(L"Downloaded", L"ColumnsInfo", ByteList{0, 255, 16}));
    ASSERT_TRUE(store.WriteBytes(L"Downloaded", L"Empty", ByteList{}));
    EXPECT_EQ(store.ReadString(L"Config", L"SaveTo", L"def"), L"/v/caf\u00e9");
    EXPECT_EQ(store.ReadInt(L"Config", L"RunCount", 0), -7);
    ASSERT_TRUE(store.ReadBytes(L"Downloaded", L"ColumnsInfo", bytes));
    EXPECT_EQ(bytes, (ByteList{0, 255, 16}));
    ASSERT_TRUE(store.ReadBytes(L"Downloaded", L"Empty", bytes));
    EXPECT_TRUE(bytes.empty());

    // Wrong types read as missing; an empty string reads as the default.
    EXPECT_EQ(store.ReadInt(L"Config", L"SaveTo", 3), 3);
    EXPECT_EQ(store.ReadString(L"Config", L"RunCount", L"d"), L"d");
    store.WriteString(L"Config", L"SaveTo", L"");
    EXPECT_EQ(store.ReadString(L"Config", L"SaveTo", L"c"), L"c");

    // A name with a stray byte (no UTF-8 form) survives too.
    std::wstring odd = WidePath("/v/bad\xff");
    store.WriteString(L"Config", L"Odd", odd);
    EXPECT_EQ(store.ReadString(L"Config", L"Odd"), odd);
}

TEST(SettingsStore, DeletingValuesAndSections) {
    ScratchFolder dir;
    SettingsStore store(dir.Wide() + L"settings.json");
    store.WriteString(L"Config", L"A", L"a");
    store.WriteString(L"Config", L"B", L"b");
    EXPECT_TRUE(store.WriteString(L"Config", L"A", static_cast<const wchar_t*>(nullptr)));
    EXPECT_FALSE(store.HasValue(L"Config", L"A"));
    EXPECT_TRUE(store.HasSection(L"Config"));  // the section stays
    EXPECT_TRUE(store.DeleteValue(L"Config", L"missing"));
    EXPECT_TRUE(store.DeleteSection(L"Config"));
    EXPECT_FALSE(store.HasSection(L"Config"));
    EXPECT_EQ(store.ReadString(L"Config", L"B", L"gone"), L"gone");
}

TEST(SettingsStore, IntegersOutsideThirtyTwoBitsReadAsDefault) {
    ScratchFolder dir;
    dir.Write("settings.json", R"({"S": {"big": 4294967295, "huge": 99999999999, "neg": -5, "f": 1.5}})");
    SettingsStore store(dir.Wide() + L"settings.json");
    EXPECT_EQ(store.ReadInt(L"S", L"big", 0), -1);  // same bits as a DWORD
    EXPECT_EQ(store.ReadInt(L"S", L"huge", 1), 1);
    EXPECT_EQ(store.ReadInt(L"S", L"neg", 0), -5);
    EXPECT_EQ(store.ReadInt(L"S", L"f", 2), 2);
}

TEST(SettingsStore, DamagedFileGivesDefaultsAndIsKeptAside) {
    ScratchFolder dir;
    for (const char* damage : {"{\"Config\": {\"RunCount\": 3", "[1,2]", "{\"Config\": 5}", "\xff\xfe"}) {
        dir.Write("settings.json", damage);
        SettingsStore store(dir.Wide() + L"settings.json");
        EXPECT_EQ(store.ReadInt(L"Config", L"RunCount", 11), 11) << damage;
        EXPECT_TRUE(DamagedCopies(dir).empty());  // reading alone changes nothing
        ASSERT_TRUE(store.WriteInt(L"Config", L"RunCount", 12));
        EXPECT_EQ(store.ReadInt(L"Config", L"RunCount", 0), 12);
        auto copies = DamagedCopies(dir);
        ASSERT_EQ(copies.size(), 1u) << damage;
        std::string kept;
        ASSERT_TRUE(ReadWholeFile(WidePath(dir.File(copies[0])), kept));
        EXPECT_EQ(kept, damage);
        fs::remove(dir.File(copies[0]));
    }
}

TEST(SettingsStore, UnreadableFileIsNotOverwritten) {
    ScratchFolder dir;
    // Something at the settings path that cannot be read as a file, whoever runs the test.
    dir.Write("settings.json/inside", "keep");
    SettingsStore store(dir.Wide() + L"settings.json");
    EXPECT_EQ(store.ReadInt(L"Config", L"RunCount", 1), 1);
    EXPECT_FALSE(store.WriteInt(L"Config", L"RunCount", 4));
    EXPECT_TRUE(fs::exists(dir.File("settings.json/inside")));
    EXPECT_TRUE(DamagedCopies(dir).empty());
}

TEST(SettingsStore, TwoProcessesWritingAtOnceLoseNothing) {
    ScratchFolder dir;
    const std::wstring path = dir.Wide() + L"settings.json";
    constexpr int kWrites = 60;
    // The file exists and parses before anyone starts: the reader can then tell a file it could
    // not parse (every read gives its default) from one it could.
    {
        SettingsStore seed(path);
        ASSERT_TRUE(seed.WriteInt(L"Seed", L"present", 1));
    }
    // All three processes start together, so the reader reads while the writers write.
    int gate[2];
    ASSERT_EQ(::pipe(gate), 0);
    auto waitForGate = [&] {
        ::close(gate[1]);
        char c;
        while (::read(gate[0], &c, 1) < 0) {
        }
    };
    auto writer = [&](const wchar_t* section) {
        waitForGate();
        SettingsStore store(path);
        for (int i = 0; i < kWrites; ++i)
            if (!store.WriteInt(section, L"k" + std::to_wstring(i), i)) return 1;
        return 0;
    };
    // A third process keeps reading until both writers are done: the seed value must be there in
    // every read (a half-written or unparsable file reads as empty), and every value it sees of
    // a writer is one that writer wrote.
    pid_t reader = ::fork();
    if (reader == 0) {
        waitForGate();
        SettingsStore store(path);
        int reads = 0;
        for (;;) {
            ++reads;
            if (store.ReadInt(L"Seed", L"present", -1) != 1) ::_exit(1);
            int lastA = store.ReadInt(L"A", L"k" + std::to_wstring(kWrites - 1), -1);
            int lastB = store.ReadInt(L"B", L"k" + std::to_wstring(kWrites - 1), -1);
            if (lastA == kWrites - 1 && lastB == kWrites - 1) break;
            if (reads > 1000000) ::_exit(3);
        }
        ::_exit(DamagedCopies(dir).empty() ? 0 : 2);
    }
    pid_t first = ::fork();
    if (first == 0) ::_exit(writer(L"A"));
    pid_t second = ::fork();
    if (second == 0) ::_exit(writer(L"B"));
    ::close(gate[0]);
    ::close(gate[1]);  // opens the gate
    for (pid_t pid : {first, second, reader}) {
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
            << (pid == reader ? "reader" : "writer") << " status " << status;
    }
    SettingsStore store(path);
    for (int i = 0; i < kWrites; ++i) {
        EXPECT_EQ(store.ReadInt(L"A", L"k" + std::to_wstring(i), -1), i);
        EXPECT_EQ(store.ReadInt(L"B", L"k" + std::to_wstring(i), -1), i);
    }
    EXPECT_EQ(store.ReadInt(L"Seed", L"present", -1), 1);
    EXPECT_TRUE(DamagedCopies(dir).empty());
    // Only the settings file and its lock file: no temporary file left behind.
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.Path()), {}), 2);
}

TEST(Settings, TypedSettingsLoadAndSave) {
    ScratchFolder dir;
    SettingsStore store(dir.Wide() + L"settings.json");
    IntSetting count(L"Config", L"Count", 4);
    count.Load(store);
    EXPECT_EQ(count.value, 4);
    count.value = 9;
    EXPECT_TRUE(count.Save(store));
    StringSetting skin(L"Config", L"SkinName");
    skin.value = L"Blue";
    skin.Save(store);
    IntSetting again(L"Config", L"Count");
    again.Load(store);
    StringSetting skinAgain(L"Config", L"SkinName", L"x");
    skinAgain.Load(store);
    EXPECT_EQ(again.value, 9);
    EXPECT_EQ(skinAgain.value, L"Blue");
}

TEST(AppSettings, FirstRunDefaultsAndWriteBackAtDestruction) {
    ScratchFolder dir;
    SettingsStore store(dir.Wide() + L"settings.json");
    {
        AppSettings settings(store);
        EXPECT_EQ(settings.runCount, 0);
        EXPECT_EQ(settings.baseViewFlags, 4096);
        EXPECT_EQ(settings.lastOptionId, -1);
        EXPECT_EQ(settings.sysFlags, 0);
        // The user's videos folder, here under the private HOME every test runner gets.
        EXPECT_EQ(settings.saveTo, WidePath(std::getenv("HOME")) + L"/Videos");
        EXPECT_TRUE(settings.columns.empty());
        settings.runCount = 1;
        settings.sysFlags = 2;  // never written
        settings.saveTo = L"/tmp/out";
        settings.columns = {{0, 120, true}, {2, 80, false}};
    }
    EXPECT_EQ(store.ReadInt(L"Config", L"RunCount", -1), 1);
    EXPECT_EQ(store.ReadInt(L"Settings", L"BaseViewFlags", 0), 4096);
    EXPECT_EQ(store.ReadInt(L"Settings", L"LastOptionID", 0), -1);
    EXPECT_FALSE(store.HasValue(L"Config", L"SysFlags"));
    AppSettings reloaded(store);
    EXPECT_EQ(reloaded.saveTo, L"/tmp/out");
    EXPECT_EQ(reloaded.columns, (std::vector<ColumnInfo>{{0, 120, true}, {2, 80, false}}));
}

TEST(AppSettings, ColumnArchiveForm) {
    ByteList bytes = AppSettings::EncodeColumns({{1, 0x0102, true}});
    EXPECT_EQ(bytes, (ByteList{1, 0, 0, 0, 1, 0, 0, 0, 2, 1, 0, 0, 1}));
    EXPECT_FALSE(AppSettings::DecodeColumns({}).has_value());
    EXPECT_FALSE(AppSettings::DecodeColumns({2, 0, 0, 0, 1, 0, 0, 0, 2, 1, 0, 0, 1}).has_value());  // count lies
    EXPECT_FALSE(AppSettings::DecodeColumns({0xff, 0xff, 0xff, 0xff}).has_value());
    ASSERT_TRUE(AppSettings::DecodeColumns({0, 0, 0, 0}).has_value());
    EXPECT_TRUE(AppSettings::DecodeColumns({0, 0, 0, 0})->empty());

    ScratchFolder dir;
    SettingsStore store(dir.Wide() + L"settings.json");
    store.WriteBytes(L"Downloaded", L"ColumnsInfo", ByteList{5, 0, 0});
    AppSettings settings(store);
    EXPECT_TRUE(settings.columns.empty());  // unreadable list stays empty
}
