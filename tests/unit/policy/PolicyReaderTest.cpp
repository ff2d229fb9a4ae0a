// The policy file reader: format rules, counts, overwriting, NULs, long lines and damage.
#include "policy/PolicyReader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <random>
#include <string>
#include <vector>

#include "platform/Files.h"
#include "platform/Volumes.h"
#include "policy/PolicyLine.h"
#include "tests/unit/policy/PolicyTestSupport.h"

namespace policy::test {
namespace {

using Lines = std::vector<std::u16string>;

std::u16string Join(const Lines& lines, const std::u16string& end) {
  std::u16string out;
  for (const auto& l : lines) out += l + end;
  return out;
}

const Lines kCanonical = {u"[Counter]",     u"Counter=c1c2c3",   u"Jan=8",
                          u"[Description]", u"Description=d1d2", u"Feb=6",
                          u"[State]",       u"State=s1s2s3s4",   u"Mar=8"};

struct Snapshot {
  std::u16string counter, description, state;
  std::int32_t jan, feb, mar;
  bool operator==(const Snapshot&) const = default;
};

Snapshot Take(const PolicyRecord& r) {
  return {std::u16string(r.counterText), std::u16string(r.descriptionText),
          std::u16string(r.stateText),   r.counterLength,
          r.descriptionLength,           r.stateLength};
}

class PolicyReaderTest : public PolicyTest {
 protected:
  bool LoadText(const std::u16string& text, const char16_t* path = kDevState) {
    machine.files.SetTextFileUtf16(path, text, false);
    return LoadPolicyFile(path);
  }
  const PolicyRecord& Record() { return *CurrentPolicyRecord(); }
};

TEST_F(PolicyReaderTest, LayoutVariantsLoadTheSameRecord) {
  const Snapshot expected{u"c1c2c3", u"d1d2", u"s1s2s3s4", 8, 6, 8};
  const struct {
    const char* name;
    std::u16string text;
  } rows[] = {
      {"canonical CR LF", Join(kCanonical, u"\r\n")},
      {"bare LF", Join(kCanonical, u"\n")},
      {"no final line end",
       Join(kCanonical, u"\r\n").substr(0, Join(kCanonical, u"\r\n").size() - 2)},
      {"byte-order mark", u"\uFEFF" + Join(kCanonical, u"\r\n")},
      {"sections reordered",
       Join({u"[State]", u"Mar=8", u"State=s1s2s3s4", u"[Description]", u"Feb=6",
             u"Description=d1d2", u"[Counter]", u"Jan=8", u"Counter=c1c2c3"},
            u"\r\n")},
      {"no sections", Join({u"Counter=c1c2c3", u"Jan=8", u"Description=d1d2", u"Feb=6",
                            u"State=s1s2s3s4", u"Mar=8"},
                           u"\r\n")},
      {"blank and foreign lines", Join({u"", u"\r", u"garbage here", u"Counter=c1c2c3", u"Jan=8",
                                        u"Description=d1d2", u"Feb=6", u"State=s1s2s3s4", u"Mar=8"},
                                       u"\n")},
  };
  for (const auto& row : rows) {
    ReleasePolicy();
    EXPECT_TRUE(LoadText(row.text)) << row.name;
    EXPECT_EQ(Take(Record()), expected) << row.name;
  }
  EXPECT_EQ(machine.core.OpenHandleCount("file"), 0u);
  // The file is held with no sharing while it is read.
  auto opens = machine.core.JournalOf("CreateFileW");
  ASSERT_FALSE(opens.empty());
  EXPECT_NE(opens.back().find(" 0x80000000 0 3 128 -> "), std::string::npos) << opens.back();
}

TEST_F(PolicyReaderTest, ValueRules) {
  const std::u16string longValue(300, u'v');
  const struct {
    const char* name;
    std::u16string line;
    std::u16string state;  // expected stateText after "State=old!" was stored first
  } rows[] = {
      {"one code unit is ignored", u"State=x", u"old!"},
      {"trailing CRs trimmed before the length test", u"State=x\r\r\r", u"old!"},
      {"trailing CRs trimmed", u"State=xy\r\r", u"xy"},
      {"300 units cut to 260", u"State=" + longValue, longValue.substr(0, 260)},
      {"semicolon after =", u"State=ab;cd", u"old!"},
      {"semicolon before =", u";State=abcd", u"old!"},
      {"section name anywhere", u"State=ab[State]", u"old!"},
      {"no = takes the whole text", u"xxStatexx", u"xxStatexx"},
      {"first = splits", u"State==a=b", u"=a=b"},
      {"key anywhere in the line", u"my State is=abc", u"abc"},
      {"earlier key wins", u"State=abCounterx", u"old!"},
      {"U+0000 ends the text", std::u16string(u"State=ab\0cd", 11), u"ab"},
      {"U+FFFF ends the line", u"State=ab\uFFFFcd", u"ab"},
      {"key names are case-sensitive", u"STATE=abcd", u"old!"},
  };
  for (const auto& row : rows) {
    ReleasePolicy();
    LoadText(Join({u"State=old!", row.line}, u"\r\n"));
    EXPECT_EQ(SlotText(Record().stateText), row.state) << row.name;
  }
}

TEST_F(PolicyReaderTest, CountsFollowWcstol) {
  const struct {
    std::u16string value;
    std::int32_t count;
  } rows[] = {
      {u"  +42abc", 42},
      {u"-4", -4},
      {u"abc", 0},
      {u"", 0},
      {u"\t7\r", 7},
      {u"+-3", 0},
      {u"4 2", 4},
      {u"0042", 42},
      {u"1040", 1040},
      {u"99999999999", INT_MAX},
      {u"-99999999999", INT_MIN},
      {u"- 5", 0},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(ParsePolicyCount(row.value), row.count);
    ReleasePolicy();
    bool complete = LoadText(Join({u"Jan=" + row.value, u"Feb=1", u"Mar=1"}, u"\r\n"));
    EXPECT_EQ(Record().counterLength, row.count);
    EXPECT_EQ(complete, row.count != 0);
  }
  // A Jan line without digits is made good by a later one.
  ReleasePolicy();
  EXPECT_TRUE(LoadText(Join({u"Jan=none", u"Feb=1", u"Mar=1", u"Jan=3"}, u"\r\n")));
}

TEST_F(PolicyReaderTest, LaterLinesOverwriteWithoutClearing) {
  EXPECT_TRUE(LoadText(
      Join({u"State=ABCDEF", u"Jan=1", u"Feb=1", u"Mar=1", u"State=XY", u"Mar=-2", u"Counter=q"},
           u"\r\n")));
  const PolicyRecord& r = Record();
  EXPECT_EQ(SlotText(r.stateText), u"XY");
  // The shorter value leaves the tail of the longer one behind its terminator.
  EXPECT_EQ(std::u16string(r.stateText + 3, 3), u"DEF");
  EXPECT_EQ(r.stateLength, -2);
  EXPECT_EQ(SlotText(r.counterText), u"");
}

TEST_F(PolicyReaderTest, SecondFileFillsTheGaps) {
  Lines noFeb = kCanonical;
  noFeb.erase(noFeb.begin() + 5);
  EXPECT_FALSE(LoadText(Join(noFeb, u"\r\n")));
  EXPECT_EQ(Logs().back(), "\n(VexService) INI information is not correct!");
  EXPECT_FALSE(Record().descriptionLength);
  EXPECT_TRUE(LoadText(u"Feb=6\r\n", kSysSecurity));
  EXPECT_EQ(Take(Record()), (Snapshot{u"c1c2c3", u"d1d2", u"s1s2s3s4", 8, 6, 8}));
  std::u16string path(PolicyFilePath);
  EXPECT_EQ(path, kSysSecurity);
}

TEST_F(PolicyReaderTest, LineStartingWithNulEndsReading) {
  std::u16string text = Join({u"Counter=c1c2", u"Jan=6", u"Feb=2"}, u"\r\n");
  text += std::u16string(1, u'\0') + u"Mar=4\r\nState=late\r\n";
  EXPECT_FALSE(LoadText(text));
  EXPECT_EQ(Record().stateLength, 0);
  EXPECT_EQ(SlotText(Record().stateText), u"");
  EXPECT_EQ(Record().counterLength, 6);
}

TEST_F(PolicyReaderTest, VeryLongLinesComeBackWhole) {
  std::u16string huge(100000, u'z');
  std::u16string text = Join(
      {u"Jan=1", huge, u"State=" + huge + u"tail", u"Feb=1", u"Counter" + huge, u"Mar=1"}, u"\r\n");
  EXPECT_TRUE(LoadText(text));
  EXPECT_EQ(SlotText(Record().stateText), huge.substr(0, 260));
  EXPECT_EQ(SlotText(Record().counterText), u"Counter" + huge.substr(0, 253));
}

// The reader keeps only a digest of each line; fed in pieces of any size, it must come to what
// the whole line's text gives.
TEST(PolicyLineDigestTest, PiecesGiveWhatTheWholeLineGives) {
  const std::u16string pool[] = {u"State", u"Counter", u"Description", u"Jan",  u"Feb",
                                 u"Mar",   u"[State]", u"[Counter]",   u"=",    u";",
                                 u"\r",    u" ",       u"-",           u"+",    u"42",
                                 u"x",     u"Sta",     u"te",          u"[Des", u"cription]"};
  std::mt19937 rng(99);
  for (int round = 0; round < 3000; ++round) {
    std::u16string text;
    for (int n = static_cast<int>(rng() % 12); n > 0; --n) text += pool[rng() % std::size(pool)];
    // Long runs around the 260-unit cut and the piece boundaries.
    if (round % 3 == 0) text.insert(rng() % (text.size() + 1), rng() % 600, u"a\r "[rng() % 3]);
    PolicyLineDigest line;
    for (std::size_t at = 0; at < text.size();) {
      std::size_t n = 1 + rng() % 40;
      line.Append(std::u16string_view(text).substr(at, n));
      at += n;
    }
    PolicyLine whole = ClassifyPolicyLine(text);
    SCOPED_TRACE(::testing::Message() << "round " << round << " size " << text.size());
    ASSERT_EQ(line.skipped(), whole.skipped);
    ASSERT_EQ(line.key(), whole.key);
    if (whole.key == PolicyKey::kNone) continue;
    ASSERT_EQ(line.StoredText(), StoredPolicyText(whole.value));
    ASSERT_EQ(line.Count(), ParsePolicyCount(whole.value));
  }
}

// A source that hands over a few bytes at a time, odd counts included, splits code units across
// reads: the reader must still see the lines one whole read gives, and ignore a final odd byte.
TEST(PolicyLineReaderTest, ReadsOfAnySizeGiveTheSameLines) {
  const std::u16string text = u"[State]\r\nState=\u00e9\u4e2d\r\n\nMar=8\nlast";
  std::vector<std::uint8_t> bytes;
  for (char16_t c : text) {
    bytes.push_back(static_cast<std::uint8_t>(c & 0xFF));
    bytes.push_back(static_cast<std::uint8_t>(c >> 8));
  }
  bytes.push_back(0x41);  // a final odd byte
  auto lines = [&](std::uint32_t most) {
    std::size_t at = 0;
    std::mt19937 rng(most);
    PolicyLineReader reader([&](std::uint8_t* buffer, std::uint32_t size) -> std::uint32_t {
      std::size_t n = std::min<std::size_t>({1 + rng() % most, size, bytes.size() - at});
      std::copy_n(bytes.begin() + static_cast<std::ptrdiff_t>(at), n, buffer);
      at += n;
      return static_cast<std::uint32_t>(n);
    });
    Lines out;
    for (std::u16string line; reader.Next(&line);) out.push_back(line);
    return out;
  };
  const Lines whole = {u"[State]\r", u"State=\u00e9\u4e2d\r", u"", u"Mar=8", u"last"};
  EXPECT_EQ(lines(1 << 20), whole);
  for (std::uint32_t most : {1u, 2u, 3u, 7u}) EXPECT_EQ(lines(most), whole) << most;
}

TEST_F(PolicyReaderTest, ReadErrorEndsTheFile) {
  machine.files.SetTextFileUtf16(kDevState, Join(kCanonical, u"\r\n"), false);
  // Fail from the middle of the Description line on: what came before still counts.
  machine.files.FailReadsAt(kDevState, 2 * 40, platform::kErrorReadFault);
  EXPECT_FALSE(LoadPolicyFile(kDevState));
  EXPECT_EQ(Record().counterLength, 8);
  EXPECT_EQ(Record().stateLength, 0);
  EXPECT_EQ(machine.core.OpenHandleCount("file"), 0u);
}

TEST_F(PolicyReaderTest, RandomBytesNeverBreakTheReader) {
  std::mt19937 rng(20240607);
  for (int round = 0; round < 200; ++round) {
    std::vector<std::uint8_t> bytes(rng() % 4096);
    for (auto& b : bytes) b = static_cast<std::uint8_t>(rng());
    // Every other file gets the key names sprinkled in, so that values are really stored.
    if (round % 2 == 1) {
      for (const char* key : {"Counter=", "Jan=1", "State=", "Mar=", "Feb=", "Description="}) {
        std::size_t at = bytes.empty() ? 0 : (rng() % bytes.size()) & ~std::size_t{1};
        std::vector<std::uint8_t> unit;
        for (const char* k = key; *k; ++k) unit.insert(unit.end(), {std::uint8_t(*k), 0});
        bytes.insert(bytes.begin() + static_cast<std::ptrdiff_t>(at), unit.begin(), unit.end());
      }
    }
    ReleasePolicy();
    machine.files.SetFile(kDevState, bytes);
    bool complete = LoadPolicyFile(kDevState);
    const PolicyRecord& r = Record();
    EXPECT_EQ(complete, r.counterLength != 0 && r.descriptionLength != 0 && r.stateLength != 0);
    for (const char16_t* slot : {r.counterText, r.stateText, r.descriptionText}) {
      EXPECT_LE(std::u16string(slot).size(), 260u);
    }
    ASSERT_EQ(machine.core.OpenHandleCount("file"), 0u);
  }
}

TEST_F(PolicyReaderTest, FailureRows) {
  machine.files.SetTextFileUtf16(kDevState, Join(kCanonical, u"\r\n"), false);
  ASSERT_TRUE(LoadPolicyFile(kDevState));
  const Snapshot loaded = Take(Record());
  machine.files.MakeDirectory(u"C:\\Windows\\system32\\Folder.ini");
  const std::u16string tooLong = u"C:\\" + std::u16string(300, u'a');
  platform::Handle held = machine.files.CreateFileW(
      kDevState, platform::kGenericRead, platform::kFileShareRead, platform::kOpenExisting, 0);
  const struct {
    const char* name;
    const char16_t* path;
    const char* log;
  } rows[] = {
      {"null path", nullptr, "\n(VexService) Input path is not exist"},
      {"no such file", u"C:\\Windows\\system32\\Missing.ini",
       "\n(VexService) Input path is not exist"},
      {"path too long", tooLong.c_str(), "\n(VexService) Input path is not exist"},
      {"a directory", u"C:\\Windows\\system32\\Folder.ini", "\n(VexService) Internal open fail!"},
      {"open elsewhere", kDevState, "\n(VexService) Internal open fail!"},
  };
  for (const auto& row : rows) {
    EXPECT_FALSE(LoadPolicyFile(row.path)) << row.name;
    EXPECT_EQ(Logs().back(), row.log) << row.name;
    EXPECT_EQ(Take(Record()), loaded) << row.name;
  }
  machine.threads.CloseHandle(held);

  // Without a record nothing is parsed and nothing is logged.
  ReleasePolicy();
  SetPolicyAllocationFailsForTests(true);
  std::size_t lines = Logs().size();
  EXPECT_FALSE(LoadPolicyFile(kDevState));
  EXPECT_EQ(CurrentPolicyRecord(), nullptr);
  EXPECT_EQ(Logs().size(), lines);

  // The reader itself refuses nulls without a message.
  PolicyReader reader;
  PolicyRecord record{};
  EXPECT_FALSE(reader.ParsePolicyFile(nullptr, &record));
  EXPECT_FALSE(reader.ParsePolicyFile(kDevState, nullptr));
  EXPECT_EQ(Logs().size(), lines);
}

}  // namespace
}  // namespace policy::test
