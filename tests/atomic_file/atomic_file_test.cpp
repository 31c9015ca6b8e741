#include "atomic_file/atomic_file.hpp"
#include "support/files.hpp"
#include "support/temp_dir.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace fs = std::filesystem;
using test_support::read_text;

namespace {

class AtomicFile : public ::testing::Test {
protected:
    static mode_t mode_of(const fs::path& p) {
        struct stat st {};
        EXPECT_EQ(::lstat(p.c_str(), &st), 0);
        return st.st_mode & 07777;
    }
    std::size_t entries() const { return std::distance(fs::directory_iterator(dir_), fs::directory_iterator()); }

    test_support::TempDir tmp_{"atomic_file_test.", "/tmp"};
    fs::path dir_ = tmp_.path();
};

TEST_F(AtomicFile, CreatesAndReplacesWithExactMode) {
    const fs::path file = dir_ / "store.json";
    mode_t old_mask = ::umask(0077);
    ASSERT_TRUE(atomic_file::write_with_mode(file, std::string_view("first"), 0644));
    ::umask(old_mask);
    EXPECT_EQ(read_text(file), "first");
    EXPECT_EQ(mode_of(file), 0644u);  // not narrowed by the umask

    ::chmod(file.c_str(), 0666);
    std::string big(1 << 20, 'x');
    ASSERT_TRUE(atomic_file::write_with_mode(file, big, 0600));
    EXPECT_EQ(read_text(file), big);
    EXPECT_EQ(mode_of(file), 0600u);  // a replaced file takes the new mode

    ASSERT_TRUE(atomic_file::write_with_mode(file, std::string_view(""), 0600));
    EXPECT_EQ(read_text(file), "");
    EXPECT_EQ(entries(), 1u);  // no temporary left behind
}

TEST_F(AtomicFile, FailureLeavesTheOldFileAndNoTemporary) {
    // Renaming over a non-empty directory fails after the temporary was written.
    const fs::path target = dir_ / "occupied";
    fs::create_directory(target);
    std::ofstream(target / "keep") << "old";
    auto r = atomic_file::write_with_mode(target, std::string_view("new"), 0600);
    ASSERT_FALSE(r);
    EXPECT_FALSE(r.error().message().empty());
    EXPECT_EQ(read_text(target / "keep"), "old");
    EXPECT_EQ(entries(), 1u);

    // A missing directory gives the operating system's error.
    r = atomic_file::write_with_mode(dir_ / "missing" / "file", std::string_view("x"), 0600);
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error(), std::errc::no_such_file_or_directory);
}

TEST_F(AtomicFile, ReplacesASymbolicLinkRatherThanItsTarget) {
    const fs::path target = dir_ / "target";
    std::ofstream(target) << "target";
    const fs::path link = dir_ / "link";
    fs::create_symlink(target, link);
    ASSERT_TRUE(atomic_file::write_with_mode(link, std::string_view("new"), 0600));
    EXPECT_EQ(read_text(target), "target");
    EXPECT_FALSE(fs::is_symlink(link));
    EXPECT_EQ(read_text(link), "new");
}

}  // namespace
