#include "settings/user_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>

#include "settings/as_user.h"
#include "settings/bounded_call.h"
#include "settings/settings.h"
#include "settings/temp_dir.h"

namespace dahlo {
namespace {

using namespace std::chrono_literals;
using testing::ReadBytes;
using testing::TempDir;
using testing::WriteBytes;

struct stat StatOf(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(::lstat(path.c_str(), &st), 0) << path;
    return st;
}

unsigned ModeOf(const std::string& path) {
    return StatOf(path).st_mode & 07777;
}

std::size_t EntriesIn(const std::filesystem::path& dir) {
    return static_cast<std::size_t>(std::distance(std::filesystem::directory_iterator(dir),
                                                  std::filesystem::directory_iterator()));
}

TEST(UserFileWrite, NewFilesFollowTheUmask) {
    TempDir dir;
    std::string error;
    const mode_t saved = ::umask(027);
    const bool strict = WriteUserFile(dir.File("strict.ini"), "x", error);
    ::umask(0);
    const bool open = WriteUserFile(dir.File("open.ini"), "x", error);
    ::umask(saved);
    ASSERT_TRUE(strict && open) << error;
    EXPECT_EQ(ModeOf(dir.File("strict.ini")), 0640u);
    EXPECT_EQ(ModeOf(dir.File("open.ini")), 0666u);
}

TEST(UserFileWrite, ReplacingKeepsModeOwnerAndHardLinks) {
    TempDir dir;
    std::string error;
    const std::string path = dir.File("DAHLO.INI");
    WriteBytes(path, "old");
    ASSERT_EQ(::chmod(path.c_str(), 0604), 0);
    // Root may hand the new file to the old owner; anyone else never gets here with a foreign
    // file (see the in-place cases below).
    if (testing::RunningAsRoot()) {
        ASSERT_EQ(::chown(path.c_str(), testing::kNobody, 1), 0);
    }
    ASSERT_TRUE(WriteUserFile(path, "new", error)) << error;
    EXPECT_EQ(ReadBytes(path), "new");
    const struct stat st = StatOf(path);
    EXPECT_EQ(st.st_mode & 07777, 0604u);
    if (testing::RunningAsRoot()) {
        EXPECT_EQ(st.st_uid, testing::kNobody);
        EXPECT_EQ(st.st_gid, 1u);
    }

    // Both names of a hard-linked file see the new content, shorter than the old.
    const std::string a = dir.File("a.ini");
    const std::string b = dir.File("b.ini");
    WriteBytes(a, "old and longer");
    ASSERT_EQ(::link(a.c_str(), b.c_str()), 0);
    const ino_t inode = StatOf(a).st_ino;
    ASSERT_TRUE(WriteUserFile(b, "new", error)) << error;
    EXPECT_EQ(ReadBytes(a), "new");
    EXPECT_EQ(ReadBytes(b), "new");
    EXPECT_EQ(StatOf(a).st_ino, inode);
    EXPECT_EQ(StatOf(b).st_nlink, 2u);
    EXPECT_EQ(EntriesIn(dir.path()), 3u);
}

TEST(UserFileWrite, SymbolicLinksAreWrittenThroughAndStayLinks) {
    TempDir dir;
    std::string error;
    // A chain of relative links to a file that does not exist yet.
    std::filesystem::create_directory(dir.File("real"));
    std::filesystem::create_symlink("real/target.ini", dir.File("second"));
    std::filesystem::create_symlink("second", dir.File("first"));
    ASSERT_TRUE(WriteUserFile(dir.File("first"), "v1", error)) << error;
    ASSERT_TRUE(WriteUserFile(dir.File("first"), "v2", error)) << error;
    EXPECT_TRUE(std::filesystem::is_symlink(dir.File("first")));
    EXPECT_TRUE(std::filesystem::is_symlink(dir.File("second")));
    EXPECT_EQ(ReadBytes(dir.File("real/target.ini")), "v2");

    std::filesystem::create_symlink("loop2", dir.File("loop1"));
    std::filesystem::create_symlink("loop1", dir.File("loop2"));
    EXPECT_FALSE(WriteUserFile(dir.File("loop1"), "v", error));
    EXPECT_EQ(error, "Unable to write to " + dir.File("loop1"));
    EXPECT_TRUE(std::filesystem::is_symlink(dir.File("loop1")));
}

TEST(UserFileRead, OnlyRegularFilesWithinTheCapAreRead) {
    TempDir dir;
    const std::string fifo = dir.File("DAHLO.INI");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    testing::Watchdog watchdog(10s, "reading a FIFO or a device");
    testing::AddressSpaceLimit limit(1ull << 30);

    std::string data;
    EXPECT_EQ(ReadRegularFile(fifo, 1u << 20, data), FileReadStatus::kFailed);
    EXPECT_EQ(ReadRegularFile("/dev/zero", 1u << 20, data), FileReadStatus::kFailed);
    EXPECT_TRUE(data.empty());
    EXPECT_EQ(LoadSettings(fifo), Settings());

    const std::string ten = dir.File("ten");
    WriteBytes(ten, "0123456789");
    EXPECT_EQ(ReadRegularFile(ten, 10, data), FileReadStatus::kOk);
    EXPECT_EQ(data, "0123456789");
    EXPECT_EQ(ReadRegularFile(ten, 9, data), FileReadStatus::kFailed);
    EXPECT_EQ(data, "012345678");

    std::string error;
    EXPECT_FALSE(SaveSettings(fifo, Settings(), error));
    EXPECT_EQ(error, "Unable to write to " + fifo);
    EXPECT_TRUE(S_ISFIFO(StatOf(fifo).st_mode));
    EXPECT_EQ(EntriesIn(dir.path()), 2u);
}

// The permission cases need a user the file system can refuse, so the saves run in a helper
// process as an ordinary user.
TEST(UserFileWrite, PermissionsOfAnOrdinaryUserCount) {
    if (const std::string why = testing::AsUserUnavailable(); !why.empty()) GTEST_SKIP() << why;
    TempDir dir;
    ASSERT_TRUE(testing::GiveToHelperUser(dir.path()));
    const std::string original = "[Dahlo]\nAfc=0\n";

    // A read-only file in a directory the user may write: refused, untouched.
    const std::string readOnly = dir.File("DAHLO.INI");
    WriteBytes(readOnly, original);
    ASSERT_TRUE(testing::GiveToHelperUser(readOnly));
    ASSERT_EQ(::chmod(readOnly.c_str(), 0444), 0);
    testing::HelperRun run = testing::RunWriteAsUser("settings", readOnly);
    EXPECT_EQ(run.output, "Unable to write to " + readOnly + "\n");
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(ReadBytes(readOnly), original);
    EXPECT_EQ(ModeOf(readOnly), 0444u);

    // A writable file in a directory the user may not write: written in place.
    const std::filesystem::path locked = dir.path() / "locked";
    std::filesystem::create_directory(locked);
    const std::string inLocked = (locked / "DAHLO.INI").string();
    WriteBytes(inLocked, original);
    ASSERT_TRUE(testing::GiveToHelperUser(inLocked));
    ASSERT_TRUE(testing::GiveToHelperUser(locked.string()));
    ASSERT_EQ(::chmod(locked.c_str(), 0555), 0);
    run = testing::RunWriteAsUser("settings", inLocked);
    ::chmod(locked.c_str(), 0755);
    EXPECT_EQ(run.output, "ok\n");
    EXPECT_EQ(LoadSettings(inLocked), Settings());

    // Another user's file the user may write: written in place, so it keeps its owner.
    if (testing::RunningAsRoot()) {
        const std::string shared = dir.File("shared.ini");
        WriteBytes(shared, original);
        ASSERT_EQ(::chmod(shared.c_str(), 0666), 0);
        run = testing::RunWriteAsUser("settings", shared);
        EXPECT_EQ(run.output, "ok\n");
        EXPECT_EQ(LoadSettings(shared), Settings());
        EXPECT_EQ(StatOf(shared).st_uid, 0u);
    }
    EXPECT_EQ(EntriesIn(dir.path()), testing::RunningAsRoot() ? 3u : 2u);  // no files left over
    EXPECT_EQ(EntriesIn(locked), 1u);
}

}  // namespace
}  // namespace dahlo
