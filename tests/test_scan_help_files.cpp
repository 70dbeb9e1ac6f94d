// The help file scan over small machines.

#include "scan/ScanHelpFiles.h"
#include "support/MachineFixture.h"
#include "support/ScanHarness.h"

#include <gtest/gtest.h>

using namespace testing_support;

namespace {

const std::string kHelp = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\Help";
const std::string kHtmlHelp = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\Html Help";

} // namespace

TEST(ScanHelpFiles, TheFileNamedInTheFolderGiven) {
    TestMachine machine(R"reg(
[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\Html Help]
"gone.chm"="C:\\WINDOWS\\Help"
"ntcmds.chm"="C:\\WINDOWS\\Help\\"
[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\Help]
"notepad.hlp"="C:\\WINDOWS\\Help"
"NTCMDS.CHM"="c:\\windows\\HELP\\"
"short.hlp"="C:\\PROGRA~1\\MYAPP~1"
"env.hlp"="%SystemRoot%\\Help"
"gone.hlp"="C:\\WINDOWS\\Help"
"moved.hlp"="C:\\Gone\\"
"Binary"=hex:00
)reg",
                        {{"C:\\WINDOWS\\Help\\notepad.hlp", "help"},
                         {"C:\\WINDOWS\\Help\\ntcmds.chm", "help"},
                         {"C:\\WINDOWS\\Help\\env.hlp", "help"},
                         {"C:\\Program Files\\My App\\short.hlp", "help"}});
    const ScanOutcome outcome = ScanMachine({riHelpFiles});
    ASSERT_TRUE(outcome.ended);
    // A folder without a trailing backslash is joined to the name with one. The values
    // of the help key come first; "Binary" ends the scan before the HTML help key.
    const std::vector<TInvalidRegData> expected = {
        {riHelpFiles, kHelp, "gone.hlp", "C:\\WINDOWS\\Help",
         "File \"C:\\WINDOWS\\Help\\gone.hlp\" does not exist"},
        {riHelpFiles, kHelp, "moved.hlp", "C:\\Gone\\",
         "File \"C:\\Gone\\moved.hlp\" does not exist"},
    };
    EXPECT_EQ(outcome.records, expected);
    EXPECT_EQ(outcome.error, "Invalid data type for 'Binary'");
}

TEST(ScanHelpFiles, TheHelpKeyThenTheHtmlHelpKey) {
    TestMachine machine(R"reg(
[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\Html Help]
"gone.chm"="C:\\WINDOWS\\Help"
[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\Help]
"gone.hlp"="C:\\WINDOWS\\Help"
)reg");
    ScanOutcome outcome = ScanMachine({riHelpFiles});
    EXPECT_EQ(outcome.error, "");
    ASSERT_EQ(outcome.records.size(), 2u);
    EXPECT_EQ(outcome.records[0].KeyLocation, kHelp);
    EXPECT_EQ(outcome.records[1].KeyLocation, kHtmlHelp);
    EXPECT_EQ(outcome.records[1].Diagnosis, "File \"C:\\WINDOWS\\Help\\gone.chm\" does not exist");
    EXPECT_EQ(outcome.keys, (std::vector<std::string>{"SOFTWARE\\Microsoft\\Windows\\Help",
                                                      "SOFTWARE\\Microsoft\\Windows\\Html Help"}));

    outcome = ScanMachine({riHelpFiles}, {kHelp});
    ASSERT_EQ(outcome.records.size(), 1u);
    EXPECT_EQ(outcome.records[0].KeyLocation, kHtmlHelp);
}
