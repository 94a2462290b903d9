#include "codepage.h"

#include <gtest/gtest.h>

#include "ghost_command.h"

namespace vorlane {
namespace {

TEST(Codepage, ChinesePathsBecomeUtf8) {
    // "D:\系统备份\win7.gho" as code page 936 writes it.
    std::string ansi = "D:\\\xCF\xB5\xCD\xB3\xB1\xB8\xB7\xDD\\win7.gho";
    EXPECT_EQ(Cp936ToUtf8(ansi), "D:\\\xE7\xB3\xBB\xE7\xBB\x9F\xE5\xA4\x87\xE4\xBB\xBD\\win7.gho");
    EXPECT_EQ(Cp936ToUtf8("plain ascii"), "plain ascii");
    EXPECT_EQ(Cp936ToUtf8("\x80"), "\xE2\x82\xAC");
    // A lead byte at the end or before a byte that is no trail byte is no character.
    EXPECT_EQ(Cp936ToUtf8("a\xCF"), "a?");
    EXPECT_EQ(Cp936ToUtf8("\xCF\x20x"), "? x");
    EXPECT_EQ(Cp936ToUtf8("\xFF"), "?");
}

TEST(Codepage, AJobWithAChinesePathParses) {
    std::string job = "Ghost.exe -nousb -clone,mode=pload,src=\"1:2\\\xCF\xB5\xCD\xB3\\win7.GHO:1\",dst=\"1:1\" -sure\r\n"
                      "restart\r\n";
    std::string error;
    auto parsed = ParseJobFile(Cp936ToUtf8(job), error);
    ASSERT_TRUE(parsed) << error;
    EXPECT_EQ(parsed->command.source.path, "\\\xE7\xB3\xBB\xE7\xBB\x9F\\win7.GHO");
}

}  // namespace
}  // namespace vorlane
