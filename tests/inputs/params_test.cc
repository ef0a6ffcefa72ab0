#include "inputs/params.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "testing/temp_dir.h"

namespace takeloom {
namespace {

struct Expect {
  int32_t all_type;
  float all_length;
  std::map<int32_t, std::pair<int32_t, float>> tracks;  // number -> type, ms
};

void ExpectParams(const char* name, std::string_view text, const Expect& e) {
  CrossfadeParams params;
  ASSERT_TRUE(ParseParams(text, &params).ok()) << name;
  EXPECT_EQ(params.all.type, e.all_type) << name;
  EXPECT_EQ(params.all.length_ms, e.all_length) << name;
  ASSERT_EQ(params.tracks.size(), e.tracks.size()) << name;
  for (const auto& [number, setting] : e.tracks) {
    ASSERT_TRUE(params.tracks.count(number)) << name << " track " << number;
    EXPECT_EQ(params.tracks.at(number).type, setting.first) << name;
    EXPECT_EQ(params.tracks.at(number).length_ms, setting.second) << name;
  }
}

TEST(ParamsTest, ReadsEntriesByTokensNotLines) {
  ExpectParams("template sets nothing", kParamsTemplate, {0, 0, {}});
  ExpectParams("xf_all", "xf_all\t200\t1\n", {1, 200, {}});
  ExpectParams("xf_tr", "xf_tr\t3\t150.5\t2\n", {0, 0, {{3, {2, 150.5f}}}});
  ExpectParams("switched off with spaces", "(xf_all 200 1)\n(xf_tr 1 200 1)\n",
               {0, 0, {}});
  ExpectParams("CRLF lines", "xf_all\t200\t1\r\nxf_tr\r\n2\r\n5\r\n3\r\n",
               {1, 200, {{2, {3, 5}}}});
  ExpectParams("spread over lines", "xf_tr\n2\n100\n3\n", {0, 0, {{2, {3, 100}}}});
  ExpectParams("half-opened template line", "xf_tr\t1\t200\t1)\n",
               {0, 0, {{1, {1, 200}}}});
  ExpectParams("units and words", "xf_all\t200ms\tx\n", {0, 200, {}});
  ExpectParams("later entry wins",
               "xf_all\t1\t1\nxf_all\t2\t2\nxf_tr\t1\t5\t3\nxf_tr\t1\t6\t4\n",
               {2, 2, {{1, {4, 6}}}});
  // A key where a value is due reads as 0 and begins no entry...
  ExpectParams("key as value", "xf_all\txf_tr\t1\t2\t3\t4\n", {1, 0, {}});
  // ...except that an xf_tr lacking its type hands on a following xf_all.
  ExpectParams("xf_tr then xf_all", "xf_tr\t2\t100\txf_all\t50\t3\n",
               {3, 50, {{2, {0, 100}}}});
  ExpectParams("huge track number is stored", "xf_tr\t1000000\t10\t1\n",
               {0, 0, {{1000000, {1, 10}}}});
}

TEST(ParamsTest, KeepsTheLineAndTextOfTheEntriesThatCount) {
  CrossfadeParams params;
  ASSERT_TRUE(ParseParams("xf_all\t1\t1\n\nxf_tr\n2\n100\n3\r\n"
                          "xf_tr\t1\t5\t3\nxf_tr\t1\t6\t4)\nxf_all\t2\t2\n",
                          &params)
                  .ok());
  EXPECT_EQ(EntryPlace(params.all_entry),
            "loomrc.txt line 9, entry \"xf_all\\t2\\t2\"");
  EXPECT_EQ(EntryPlace(params.track_entries.at(1)),
            "loomrc.txt line 8, entry \"xf_tr\\t1\\t6\\t4)\"");
  EXPECT_EQ(EntryPlace(params.track_entries.at(2)),
            "loomrc.txt line 3, entry \"xf_tr\\n2\\n100\\n3\"");
}

TEST(ParamsTest, RefusesBadTrackNumbersAndIncompleteOrSpacedEntries) {
  // The place is as KeepsTheLineAndTextOfTheEntriesThatCount reads it.
  const std::string spaces =
      "a tab, not a space, goes after the key and between the values";
  const std::pair<const char*, std::string> cases[] = {
      {"xf_tr\t0\t200\t1\n", "the track number reads as 0; tracks are "
                              "numbered from 1"},
      {"\nxf_tr\tx\t200\t1\n", "the track number reads as 0; tracks are "
                                "numbered from 1"},
      {"xf_tr\t-3\t200\t1\n", "the track number reads as -3; tracks are "
                               "numbered from 1"},
      {"xf_tr\t1\t200\n", "the file ends before its type"},
      {"xf_all\t200\n", "the file ends before its type"},
      {"remark\txf_all", "the file ends before its length and type"},
      {"xf_tr", "the file ends before its track number, length and type"},
      // Written with spaces, the entry would silently be passed over.
      {"xf_all 200 1\n", spaces},
      {"remark\nxf_tr 1 200 1\n", spaces},
  };
  for (const auto& [text, detail] : cases) {
    CrossfadeParams params;
    const Error err = ParseParams(text, &params);
    EXPECT_EQ(err.fault, Fault::kInvalidEntry) << text;
    EXPECT_TRUE(err.detail.ends_with("\": " + detail)) << err.detail;
  }
  CrossfadeParams params;
  const Error zero = ParseParams(
      std::string_view("xf_all\t5\t1\n\0xf_all\t9\t2", 22), &params);
  EXPECT_EQ(std::pair(zero.fault, zero.file),
            std::pair(Fault::kNotPlainText, std::string("loomrc.txt")));
}

class CheckRcTest : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = std::filesystem::current_path();
    std::filesystem::current_path(dir_.path());
  }
  void TearDown() override { std::filesystem::current_path(saved_); }

  testing::TempDir dir_;
  std::filesystem::path saved_;
};

TEST_F(CheckRcTest, WritesTheTemplateOnceAndReadsItBack) {
  CrossfadeParams params;
  params.all = {2, 7};
  EXPECT_TRUE(Check_RC(&params).ok());
  EXPECT_EQ(testing::ReadFile("loomrc.txt"), kParamsTemplate);
  EXPECT_EQ(params.all.type, 2);  // untouched

  EXPECT_TRUE(Check_RC(&params).ok());
  EXPECT_EQ(params.all.type, 2);
  EXPECT_TRUE(params.tracks.empty());
}

TEST_F(CheckRcTest, ReadsAnEmptyFileWithoutReplacingIt) {
  testing::WriteFile("loomrc.txt", "");
  CrossfadeParams params;
  EXPECT_TRUE(Check_RC(&params).ok());
  EXPECT_EQ(testing::ReadFile("loomrc.txt"), "");
}

TEST_F(CheckRcTest, LeavesAnUnreadableParameterFileAlone) {
  std::filesystem::create_directory("loomrc.txt");
  CrossfadeParams params;
  EXPECT_EQ(Check_RC(&params).fault, Fault::kCannotRead);
  EXPECT_TRUE(std::filesystem::is_directory("loomrc.txt"));

  std::filesystem::remove("loomrc.txt");
  std::filesystem::create_symlink("missing/target", "loomrc.txt");
  EXPECT_EQ(Check_RC(&params).fault, Fault::kCannotRead);
  EXPECT_FALSE(std::filesystem::exists("missing"));
}

}  // namespace
}  // namespace takeloom
