// The operating system behind base/, as each system's implementation must
// behave alike (this suite also runs on Windows).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/durable_file.h"
#include "base/file_io.h"
#include "base/folder_files.h"
#include "base/mapped_file.h"
#include "base/path.h"
#include "base/system.h"
#include "tests/base/temp_folder.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace kp {
namespace {

TEST(PathTest, Utf8RoundTrip) {
  for (const std::string text : {"", "plain.mdb", "出力 フォルダ/データ.mdb", "ﾃｽﾄ"}) {
    EXPECT_EQ(PathToUtf8(PathFromUtf8(text)), text);
  }
  EXPECT_EQ(PathToUtf8(PathFromUtf8("フォルダ/x.mdb").filename()), "x.mdb");
  EXPECT_EQ(PathToUtf8(FolderOf(PathFromUtf8("フォルダ/x.mdb"))), "フォルダ");
  EXPECT_EQ(PathToUtf8(FolderOf(PathFromUtf8("x.mdb"))), ".");
}

// Every operation of the durable write in a folder with a Japanese name
// and a space, and in one whose path is longer than 260 characters.
TEST(SystemFilesTest, DurableWriteAnywhereAWindowsNameReaches) {
  testing::TempFolder temp("kp-system");
  Path deep = temp / "深い フォルダ";
  while (deep.native().size() < 300) deep /= PathFromUtf8("長い名前のフォルダ 0123456789");
  for (const Path& folder : {temp / "日本語 フォルダ", deep}) {
    SCOPED_TRACE(PathToUtf8(folder));
    std::error_code ec;
    std::filesystem::create_directories(LongPathSafe(folder), ec);
    ASSERT_FALSE(ec) << ec.message();
    const Path out = folder / PathFromUtf8("出力.mdb"), temp_file = folder / PathFromUtf8("出力.mdb.new");
    ASSERT_TRUE(WriteNewFile(out, "old", 3).ok());
    EXPECT_FALSE(WriteNewFile(out, "x", 1).ok());  // never over a file that is there
    ASSERT_TRUE(CopyToNewFile(out, temp_file).ok());
    std::unique_ptr<File> file;
    ASSERT_TRUE(Files()->Open(temp_file, OpenMode::kReadWrite, &file).ok());
    ASSERT_TRUE(file->WriteAt(3, " and new", 8).ok());
    uint64_t size = 0;
    ASSERT_TRUE(file->Size(&size).ok());
    EXPECT_EQ(size, 11u);
    ASSERT_TRUE(file->Sync().ok());
    ASSERT_TRUE(file->Close().ok());
    ASSERT_TRUE(ReplaceDurably(temp_file, out).ok());
    EXPECT_FALSE(Files()->Exists(temp_file));

    std::unique_ptr<MappedFile> mapped;
    ASSERT_TRUE(MappedFile::Open(out, &mapped).ok());
    ASSERT_EQ(mapped->size(), 11u);
    ASSERT_TRUE(mapped->Map().ok());
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(mapped->data()), 11), "old and new");
    mapped->DropResident();
    char word[3];
    ASSERT_TRUE(mapped->ReadAt(4, word, 3).ok());
    EXPECT_EQ(std::string(word, 3), "and");
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(mapped->data()), 3), "old");
    EXPECT_FALSE(mapped->ReadAt(10, word, 3).ok());
    mapped.reset();

    // An image named as Windows stores it, its letters in another case.
    FolderFiles files;
    int64_t image = 0;
    std::string shown;
    testing::Put(folder / PathFromUtf8("Page 1.TIF"), "12345");
    EXPECT_EQ(files.SizeOf(folder, u"\\page 1.tif", &image, &shown), FolderFiles::Found::kFile);
    EXPECT_EQ(image, 5);
    EXPECT_EQ(files.SizeOf(folder, u"\\Page 2.TIF", &image, &shown), FolderFiles::Found::kMissing);
    EXPECT_NE(shown.find("Page 2.TIF"), std::string::npos);
    ASSERT_TRUE(Files()->Remove(out).ok());
    EXPECT_FALSE(Files()->Exists(out));
  }
}

#ifdef _WIN32
// Access holds an open database without delete sharing: the replace fails
// and the file keeps every byte.
TEST(SystemFilesTest, AnOutputHeldOpenIsLeftAsItWas) {
  testing::TempFolder temp("kp-held");
  const Path out = temp / "開いている.mdb", fresh = temp / "new.mdb";
  testing::Put(out, "held by another program");
  testing::Put(fresh, "new");
  HANDLE held = ::CreateFileW(out.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  EXPECT_FALSE(ReplaceDurably(fresh, out).ok());
  ::CloseHandle(held);
  EXPECT_EQ(testing::Get(out), "held by another program");
  EXPECT_EQ(testing::Get(fresh), "new");
}
#endif

TEST(SystemTest, ProgramPlaceAndChildProcess) {
  const Path exe = ExecutablePath();
  ASSERT_FALSE(exe.empty());
  EXPECT_TRUE(std::filesystem::exists(exe));
  testing::TempFolder temp("kp-process");
  EXPECT_TRUE(IsWritableFolder(temp.path()));

  ProcessOutcome outcome;
#ifdef _WIN32
  const Path shell = L"C:\\windows\\system32\\cmd.exe";
  const std::vector<Path> args = {L"/c", L"echo to stderr 1>&2 & exit 3"};
#else
  const Path shell = "/bin/sh";
  const std::vector<Path> args = {"-c", "echo to stderr >&2; echo not kept >&2; exit 3", "an argument"};
#endif
  ASSERT_TRUE(RunProcess(shell, args, 6, &outcome).ok());
  EXPECT_TRUE(outcome.exited);
  EXPECT_EQ(outcome.exit_code, 3);
  EXPECT_EQ(outcome.errors.substr(0, 9), "to stderr");
  EXPECT_FALSE(RunProcess(temp / "no such program", {}, 100, &outcome).ok());
}

}  // namespace
}  // namespace kp
