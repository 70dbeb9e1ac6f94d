// The keys that tell the five system hives apart, on hives of real Windows installations:
// each is taken for its own kind and for no other that a profile could swap it with (a
// SYSTEM hive has a Software key, as a user hive does).

#include "backup/ProfileHiveFile.h"
#include "hive/HiveKey.h"
#include "support/MachineFixture.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace testing_support;

namespace {

struct RealHive {
    const char* name;
    std::vector<const char*> logs;
    THiveKind kind;
    bool unfinished = false;
    friend void PrintTo(const RealHive& hive, std::ostream* os) { *os << hive.name; }
};

class RealHiveKinds : public ::testing::TestWithParam<RealHive> {};

TEST_P(RealHiveKinds, AreTakenForTheirOwnKindOnly) {
    QTemporaryDir dir;
    const std::string path = dir.path().toStdString() + "/" + GetParam().name;
    if (!SharedHiveAs(GetParam().name, path))
        GTEST_SKIP() << "the shared hives are not available";
    for (const char* log : GetParam().logs)
        ASSERT_TRUE(SharedHiveAs(log, dir.path().toStdString() + "/" + log));

    TProfileHiveHeader header;
    ASSERT_EQ(ReadProfileHiveHeader(path, header), "");
    EXPECT_EQ(header.Unfinished, GetParam().unfinished);
    hive::LoadedHive loaded;
    if (header.Unfinished && GetParam().logs.empty()) {
        // Never taken without the logs that finish it; its keys are still its kind's.
        EXPECT_THROW(LoadProfileHive(path, header), std::runtime_error);
        loaded = hive::LoadHiveFile(path, {.applyLogs = false});
    } else {
        loaded = LoadProfileHive(path, header);
    }
    EXPECT_EQ(GuessHiveKind(*loaded.root), GetParam().kind);
    EXPECT_TRUE(HiveHasKindKeys(*loaded.root, GetParam().kind));
}

INSTANTIATE_TEST_SUITE_P(, RealHiveKinds,
                         ::testing::Values(RealHive{"SYSTEM", {}, THiveKind::System},
                                           RealHive{"SAM", {}, THiveKind::Sam},
                                           RealHive{"SECURITY", {}, THiveKind::Security, true},
                                           RealHive{"NTUSER.DAT", {}, THiveKind::DefaultUser},
                                           RealHive{"SYSTEM_B",
                                                    {"SYSTEM_B.LOG1", "SYSTEM_B.LOG2"},
                                                    THiveKind::System,
                                                    true}),
                         [](const auto& info) {
                             std::string name = info.param.name;
                             std::erase(name, '.');
                             return name;
                         });

TEST(ProfileHiveKinds, AConfigLineNamesAKindWhateverItsCase) {
    EXPECT_EQ(HiveKindOfKeyName("system"), THiveKind::System);
    EXPECT_EQ(HiveKindOfKeyName(".Default"), THiveKind::DefaultUser);
    EXPECT_EQ(HiveKindOfKeyName("S-1-5-18"), THiveKind::Unknown);
}

} // namespace
