// The font scan over small machines.

#include "registry/OSInfo.h"
#include "scan/ScanFonts.h"
#include "support/MachineFixture.h"
#include "support/ScanHarness.h"

#include <QTemporaryDir>
#include <filesystem>
#include <gtest/gtest.h>

using namespace testing_support;

namespace {

const std::string kNtFonts =
    "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Fonts";
const std::string k9xFonts =
    "HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Fonts";

} // namespace

TEST(ScanFonts, FontFilesAsGivenOrInTheFontsFolder) {
    TestMachine machine(
        R"reg(
[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows NT\CurrentVersion\Fonts]
"Arial (TrueType)"="arial.ttf"
"Full (TrueType)"="C:\\Other Fonts\\full.ttf"
"Short (TrueType)"="C:\\OTHERF~1\\FULL.TTF"
"Env (TrueType)"="%SystemRoot%\\Fonts\\arial.ttf"
"Gone (TrueType)"="gone.ttf"
"Gone Full (TrueType)"="C:\\Gone\\gone.ttf"
"Folder"="C:\\Other Fonts"
[HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion\Fonts]
"Old"="old.fon"
)reg",
        {{"C:\\WINDOWS\\Fonts\\ARIAL.TTF", "font"}, {"C:\\Other Fonts\\full.ttf", "font"}});
    const ScanOutcome outcome = ScanMachine({riFonts});
    ASSERT_TRUE(outcome.ended);
    EXPECT_EQ(outcome.error, "");
    // The data as written; the diagnosis with the fonts folder in front.
    const std::vector<TInvalidRegData> expected = {
        {riFonts, kNtFonts, "Gone (TrueType)", "gone.ttf",
         "File \"C:\\WINDOWS\\Fonts\\gone.ttf\" does not exist"},
        {riFonts, kNtFonts, "Gone Full (TrueType)", "C:\\Gone\\gone.ttf",
         "File \"C:\\WINDOWS\\Fonts\\C:\\Gone\\gone.ttf\" does not exist"},
        {riFonts, kNtFonts, "Folder", "C:\\Other Fonts",
         "File \"C:\\WINDOWS\\Fonts\\C:\\Other Fonts\" does not exist"},
    };
    EXPECT_EQ(outcome.records, expected);
    EXPECT_EQ(outcome.keys,
              (std::vector<std::string>{"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Fonts"}));
    EXPECT_EQ(outcome.percents, (std::vector<int>{14, 28, 42, 57, 71, 85, 100}));
}

TEST(ScanFonts, TheFontKeyOfEachWindows) {
    TestMachine machine(R"reg(
[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows NT\CurrentVersion\Fonts]
"nt"="gone-nt.ttf"
[HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion\Fonts]
"9x"="gone-9x.fon"
)reg");
    struct Case {
        const char* version; // the [Version] section
        int product;
        const char* key; // the key scanned, null for none
    } cases[] = {
        {"Version=5.1.2600", 3, kNtFonts.c_str()},
        {"Version=4.0.1381", 1, kNtFonts.c_str()},
        {"Version=5.0.2195", 2, kNtFonts.c_str()},
        {"Version=5.2.3790", 9, kNtFonts.c_str()},
        {"Platform=Win32s\nVersion=3.11.0", 8, kNtFonts.c_str()},
        {"Platform=9x\nVersion=4.0.950", 5, k9xFonts.c_str()},
        {"Platform=9x\nVersion=4.10.2222", 6, k9xFonts.c_str()},
        {"Platform=9x\nVersion=4.90.3000", 7, k9xFonts.c_str()},
        {"Platform=9x\nVersion=4.20.1", 4, k9xFonts.c_str()},
        // Vista and later by version, whatever their code; an older NT without a code
        // has no font key.
        {"Version=6.0.6000", 11, kNtFonts.c_str()},
        {"Version=6.1.7600", 0, kNtFonts.c_str()},
        {"Version=10.0.22631", 0, kNtFonts.c_str()},
        {"Version=3.51.1057", 0, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.version);
        machine.rebootWithIni(std::string("[Version]\n") + c.version + "\n");
        const ScanOutcome outcome = ScanMachine({riFonts});
        ASSERT_EQ(OSProduct(), c.product);
        EXPECT_EQ(outcome.error, "");
        if (!c.key) {
            EXPECT_TRUE(outcome.records.empty());
            EXPECT_TRUE(outcome.keys.empty());
            continue;
        }
        ASSERT_EQ(outcome.records.size(), 1u);
        EXPECT_EQ(outcome.records[0].KeyLocation, c.key);
    }
}

TEST(ScanFonts, HostileValues) {
    TestMachine machine(R"reg(
[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows NT\CurrentVersion\Fonts]
"Linked (TrueType)"="linked.ttf"
"Out (TrueType)"="C:\\Out\\far.ttf"
"Binary"=hex:61,72,69,61,6c,2e,74,74,66,00
"Never"="never.ttf"
)reg",
                        {{"C:\\WINDOWS\\Fonts\\placeholder.ttf", "font"}});
    // Files outside the machine, reached through links: reported missing, never read.
    QTemporaryDir outside;
    const std::string host = outside.path().toStdString();
    std::filesystem::copy_file(machine.hostPath("WINDOWS/Fonts/placeholder.ttf"),
                               host + "/far.ttf");
    std::filesystem::create_symlink(host + "/far.ttf",
                                    machine.hostPath("WINDOWS/Fonts/linked.ttf"));
    std::filesystem::create_directory_symlink(host, machine.hostPath("Out"));
    const ScanOutcome outcome = ScanMachine({riFonts, riHelpFiles});
    ASSERT_TRUE(outcome.ended);
    ASSERT_EQ(outcome.records.size(), 2u);
    EXPECT_EQ(outcome.records[0].ValueName, "Linked (TrueType)");
    EXPECT_EQ(outcome.records[1].ValueName, "Out (TrueType)");
    // A value that is not a string ends the scan: the later value and category are not
    // examined.
    EXPECT_EQ(outcome.error, "Invalid data type for 'Binary'");
    EXPECT_EQ(outcome.statuses, (std::vector<TRepairItem>{riFonts}));
}
