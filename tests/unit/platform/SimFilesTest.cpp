// The simulated file store behaves as the Windows calls the service relies on.
#include "platform/sim/SimFiles.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/Text.h"
#include "platform/Threads.h"
#include "platform/Volumes.h"
#include "platform/sim/SimMachine.h"

namespace platform::sim {
namespace {

std::u16string Buffer(const char16_t* text) {
  std::u16string b(kMaxPath, u'\0');
  std::u16string_view t(text);
  std::copy(t.begin(), t.end(), b.begin());
  return b;
}

std::u16string Text(const std::u16string& buffer) {
  return std::u16string(buffer.c_str());
}

TEST(SimFilesTest, PathRoutinesFollowShlwapi) {
  SimMachine m;
  struct Row {
    const char16_t* in;
    bool removed;
    const char16_t* out;
  };
  const Row removeRows[] = {
      {u"C:\\Windows\\system32", true, u"C:\\Windows"},
      {u"C:\\Windows\\system32\\", true, u"C:\\Windows\\system32"},
      {u"C:\\Windows", true, u"C:\\"},
      {u"C:\\", false, u"C:\\"},
      {u"C:", false, u"C:"},
      {u"\\\\server\\share", true, u"\\\\server"},
      {u"\\foo", true, u"\\"},
      {u"file.txt", true, u""},
      {u"", false, u""},
  };
  for (const Row& r : removeRows) {
    std::u16string b = Buffer(r.in);
    EXPECT_EQ(m.files.PathRemoveFileSpecW(b.data()) != 0, r.removed) << ToUtf8(r.in);
    EXPECT_EQ(Text(b), r.out) << ToUtf8(r.in);
  }

  const Row backslashRows[] = {
      {u"C:\\Windows", true, u"C:\\Windows\\"},
      {u"C:\\Windows\\", true, u"C:\\Windows\\"},
      {u"", true, u""},
  };
  for (const Row& r : backslashRows) {
    std::u16string b = Buffer(r.in);
    char16_t* end = m.files.PathAddBackslashW(b.data());
    ASSERT_NE(end, nullptr);
    EXPECT_EQ(*end, 0);
    EXPECT_EQ(Text(b), r.out);
  }
  // 259 units leave no room for a backslash and the terminator.
  std::u16string full(259, u'a');
  full.resize(kMaxPath, u'\0');
  EXPECT_EQ(m.files.PathAddBackslashW(full.data()), nullptr);
  EXPECT_EQ(Text(full).size(), 259u);

  struct AppendRow {
    const char16_t* dir;
    const char16_t* more;
    bool ok;
    const char16_t* out;
  };
  const AppendRow appendRows[] = {
      {u"C:\\Windows\\", u"SysWOW64", true, u"C:\\Windows\\SysWOW64"},
      {u"C:\\Windows", u"SysWOW64", true, u"C:\\Windows\\SysWOW64"},
      {u"C:\\Windows\\system32\\", u"\\ReadTag.ini", true, u"C:\\Windows\\system32\\ReadTag.ini"},
      {u"C:\\a\\b", u"..\\c", true, u"C:\\a\\c"},
      {u"C:\\a", u".\\b\\.\\c", true, u"C:\\a\\b\\c"},
      {u"C:\\a", u"..\\..\\..\\x", true, u"C:\\x"},
      {u"C:\\a", u"D:\\x", true, u"D:\\x"},
      {u"", u"x", true, u"x"},
      {u"C:", u"", true, u"C:\\"},
  };
  for (const AppendRow& r : appendRows) {
    std::u16string b = Buffer(r.dir);
    EXPECT_EQ(m.files.PathAppendW(b.data(), r.more) != 0, r.ok) << ToUtf8(r.more);
    EXPECT_EQ(Text(b), r.out) << ToUtf8(r.dir) << " + " << ToUtf8(r.more);
  }
  std::u16string longDir(250, u'd');
  longDir.resize(kMaxPath, u'\0');
  EXPECT_EQ(m.files.PathAppendW(longDir.data(), u"0123456789"), 0);
  EXPECT_EQ(Text(longDir), u"");
}

TEST(SimFilesTest, SystemFolderExistsInAnyCase) {
  SimMachine m;
  m.files.SetSystemFolder(u"c:\\WINDOWS\\System32");
  std::u16string b = Buffer(u"");
  EXPECT_EQ(m.files.SHGetSpecialFolderPathW(0, b.data(), kCsidlSystem, 0), 1);
  EXPECT_EQ(Text(b), u"c:\\WINDOWS\\System32");
  EXPECT_EQ(m.files.SHGetSpecialFolderPathW(0, b.data(), 0x1a, 0), 0);
  EXPECT_EQ(m.files.PathFileExistsW(u"C:\\Windows\\system32\\"), 1);
  EXPECT_EQ(m.files.PathFileExistsW(u"C:/windows"), 1);
  EXPECT_EQ(m.files.PathFileExistsW(u"C:\\Windows\\SysWOW64"), 0);
  EXPECT_EQ(m.files.PathFileExistsW(nullptr), 0);
}

TEST(SimFilesTest, OpensHonourShareModesAndKinds) {
  SimMachine m;
  m.Install();
  m.files.SetFile(u"C:\\Data\\a.bin", {1, 2, 3, 4, 5});
  const char16_t* path = u"c:\\data\\A.BIN";
  Handle held = m.files.CreateFileW(path, kGenericRead, 0, kOpenExisting, kFileAttributeNormal);
  ASSERT_NE(held, kInvalidHandleValue);
  struct Row {
    const char16_t* path;
    std::uint32_t share;
    std::uint32_t error;
  } rows[] = {
      {path, kFileShareRead | kFileShareWrite, kErrorSharingViolation},
      {u"C:\\Data", kFileShareRead, kErrorAccessDenied},
      {u"C:\\Data\\missing.bin", kFileShareRead, kErrorFileNotFound},
      {u"C:\\Nowhere\\missing.bin", kFileShareRead, kErrorPathNotFound},
  };
  for (const Row& r : rows) {
    EXPECT_EQ(m.files.CreateFileW(r.path, kGenericRead, r.share, kOpenExisting, 0),
              kInvalidHandleValue);
    EXPECT_EQ(m.threads.GetLastError(), r.error) << ToUtf8(r.path);
  }
  std::uint8_t buf[4] = {};
  std::uint32_t got = 0;
  EXPECT_EQ(m.files.ReadFile(held, buf, 3, &got), 1);
  EXPECT_EQ(got, 3u);
  EXPECT_EQ(m.files.ReadFile(held, buf, 4, &got), 1);
  EXPECT_EQ(got, 2u);
  EXPECT_EQ(buf[1], 5);
  EXPECT_EQ(m.files.ReadFile(held, buf, 4, &got), 1);
  EXPECT_EQ(got, 0u);
  EXPECT_EQ(m.threads.CloseHandle(held), 1);
  EXPECT_EQ(m.files.ReadFile(held, buf, 4, &got), 0);
  EXPECT_EQ(m.core.OpenHandleCount("file"), 0u);

  // Two readers that share reading may both hold the file.
  Handle a = m.files.CreateFileW(path, kGenericRead, kFileShareRead, kOpenExisting, 0);
  Handle b = m.files.CreateFileW(path, kGenericRead, kFileShareRead, kOpenExisting, 0);
  EXPECT_NE(a, kInvalidHandleValue);
  EXPECT_NE(b, kInvalidHandleValue);
  m.threads.CloseHandle(a);
  m.threads.CloseHandle(b);
}

TEST(SimFilesTest, ReadErrorsAreInjectable) {
  SimMachine m;
  m.Install();
  m.files.SetFile(u"C:\\f", std::vector<std::uint8_t>(10, 7));
  m.files.FailReadsAt(u"C:\\f", 6, kErrorReadFault);
  Handle h = m.files.CreateFileW(u"C:\\f", kGenericRead, 0, kOpenExisting, 0);
  std::uint8_t buf[8];
  std::uint32_t got = 0;
  EXPECT_EQ(m.files.ReadFile(h, buf, 8, &got), 1);
  EXPECT_EQ(got, 6u);
  EXPECT_EQ(m.files.ReadFile(h, buf, 8, &got), 0);
  EXPECT_EQ(m.threads.GetLastError(), kErrorReadFault);
  m.core.FailCall(Fault::kReadFile, kErrorHandleEof, 0, 1);
  EXPECT_EQ(m.files.ReadFile(h, buf, 8, &got), 0);
  m.threads.CloseHandle(h);
}

TEST(SimFilesTest, ProfileStringsFollowWindows) {
  SimMachine m;
  m.Install();
  const char16_t* ini = u"C:\\Windows\\system32\\ReadTag.ini";
  struct Row {
    const char* name;
    std::vector<std::uint8_t> bytes;
    const char16_t* expected;
  };
  auto ansi = [](std::string s) { return std::vector<std::uint8_t>(s.begin(), s.end()); };
  auto utf16 = [](std::u16string s, bool bom) {
    std::vector<std::uint8_t> v;
    if (bom) v = {0xFF, 0xFE};
    for (char16_t c : s) {
      v.push_back(c & 0xFF);
      v.push_back(c >> 8);
    }
    return v;
  };
  std::vector<Row> rows = {
      {"ansi crlf", ansi("[State]\r\nkey=1\r\n"), u"1"},
      {"ansi lf", ansi("[Other]\nkey=5\n[State]\nkey=2\n"), u"2"},
      {"utf8 bom", ansi("\xEF\xBB\xBF[State]\r\nkey=3\r\n"), u"3"},
      {"utf16 bom", utf16(u"[State]\r\nkey=4\r\n", true), u"4"},
      {"utf16 no bom", utf16(u"[State]\r\nkey=4\r\n", false), u"0"},
      {"case of names", ansi("[sTATE]\r\nKEY=6\r\n"), u"6"},
      {"blanks trimmed", ansi("  [State]  \r\n  key  =  7 8 \t\r\n"), u"7 8"},
      {"quotes removed", ansi("[State]\r\nkey=\"9\"\r\n"), u"9"},
      {"empty value", ansi("[State]\r\nkey=\r\n"), u""},
      {"missing key", ansi("[State]\r\nother=1\r\n"), u"0"},
      {"missing section", ansi("[Tags]\r\nkey=1\r\n"), u"0"},
      {"key before any section", ansi("key=1\r\n[State]\r\n"), u"0"},
      {"comment", ansi("[State]\r\n;key=1\r\nkey=2\r\n"), u"2"},
      {"first of two", ansi("[State]\r\nkey=1\r\nkey=2\r\n"), u"1"},
  };
  for (const Row& r : rows) {
    m.files.SetFile(ini, r.bytes);
    char16_t out[260];
    std::uint32_t n = m.files.GetPrivateProfileStringW(u"State", u"key", u"0", out, 260, ini);
    EXPECT_EQ(std::u16string(out), r.expected) << r.name;
    EXPECT_EQ(n, std::u16string(r.expected).size()) << r.name;
  }

  m.files.SetFile(ini, ansi("[State]\r\nkey=123456\r\n"));
  char16_t small[4];
  EXPECT_EQ(m.files.GetPrivateProfileStringW(u"State", u"key", u"0", small, 4, ini), 3u);
  EXPECT_EQ(std::u16string(small), u"123");
  char16_t out[260];
  EXPECT_EQ(m.files.GetPrivateProfileStringW(u"State", u"key", u"dflt  ", out, 260, u"C:\\no"), 4u);
  EXPECT_EQ(std::u16string(out), u"dflt");

  // A file held with share mode 0 reads as missing.
  Handle held = m.files.CreateFileW(ini, kGenericRead, 0, kOpenExisting, 0);
  m.files.GetPrivateProfileStringW(u"State", u"key", u"0", out, 260, ini);
  EXPECT_EQ(std::u16string(out), u"0");
  m.threads.CloseHandle(held);
  m.files.GetPrivateProfileStringW(u"State", u"key", u"0", out, 260, ini);
  EXPECT_EQ(std::u16string(out), u"123456");

  m.files.SetFile(ini, ansi("[A]\r\nx=1\r\ny=2\r\n[B]\r\n"));
  char16_t list[8];
  EXPECT_EQ(m.files.GetPrivateProfileStringW(nullptr, nullptr, nullptr, list, 8, ini), 4u);
  EXPECT_EQ(std::u16string(list, 5), std::u16string(u"A\0B\0\0", 5));
  EXPECT_EQ(m.files.GetPrivateProfileStringW(u"a", nullptr, nullptr, list, 8, ini), 4u);
  EXPECT_EQ(std::u16string(list, 5), std::u16string(u"x\0y\0\0", 5));
}

}  // namespace
}  // namespace platform::sim
