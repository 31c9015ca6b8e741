#include "known_hosts/known_hosts.hpp"
#include "support/env.hpp"
#include "support/files.hpp"
#include "support/temp_dir.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>

namespace fs = std::filesystem;
using namespace remote;
using test_support::read_text;

namespace {

const HostKeyIdentity kEd{"ssh-ed25519", "SHA256:uNiVztksCsDhcc0u9e8BujQXVUpKZIDTMczCvj3tD2s"};
const HostKeyIdentity kRsa{"ssh-rsa", "SHA256:47DEQpj8HBSa+/TImW+5JCeuQeRkm5NMpJWZG3hSuFU"};

class StoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* name : {"REMOTE_SSH_KNOWN_HOSTS", "XDG_STATE_HOME", "HOME"}) env_.set(name, nullptr);
        private_ = root_ / "private";
        fs::create_directory(private_);
        ::chmod(private_.c_str(), 0700);
        file_ = private_ / "known-hosts.json";
    }
    static mode_t mode_of(const fs::path& p) {
        struct stat st {};
        EXPECT_EQ(::lstat(p.c_str(), &st), 0) << p;
        return st.st_mode & 07777;
    }
    static ino_t inode_of(const fs::path& p) {
        struct stat st {};
        EXPECT_EQ(::lstat(p.c_str(), &st), 0) << p;
        return st.st_ino;
    }

    test_support::TempDir tmp_{"known_hosts_test.", "/tmp"};
    fs::path root_ = tmp_.path(), private_, file_;
    test_support::EnvGuard env_;
};

TEST_F(StoreTest, PathFromTheEnvironment) {
    ::setenv("XDG_STATE_HOME", (root_ / "state").c_str(), 1);
    ::setenv("HOME", (root_ / "home").c_str(), 1);
    auto path = known_hosts_path();
    ASSERT_TRUE(path) << path.error();
    EXPECT_EQ(*path, root_ / "state/zavo/remote/known-hosts.json");
    EXPECT_EQ(mode_of(root_ / "state/zavo/remote"), 0700u);
    EXPECT_FALSE(fs::exists(*path));  // the file comes with the first trust

    ::unsetenv("XDG_STATE_HOME");
    path = known_hosts_path();
    ASSERT_TRUE(path) << path.error();
    EXPECT_EQ(*path, root_ / "home/.local/state/zavo/remote/known-hosts.json");

    // An explicit path wins and creates nothing.
    ::setenv("REMOTE_SSH_KNOWN_HOSTS", (root_ / "nowhere/file.json").c_str(), 1);
    path = known_hosts_path();
    ASSERT_FALSE(path);
    EXPECT_FALSE(fs::exists(root_ / "nowhere"));
    ::setenv("REMOTE_SSH_KNOWN_HOSTS", file_.c_str(), 1);
    EXPECT_EQ(known_hosts_path(), file_);

    ::unsetenv("REMOTE_SSH_KNOWN_HOSTS");
    ::unsetenv("HOME");
    EXPECT_EQ(known_hosts_path(), std::unexpected("no private state directory is available for SSH host trust"));
}

TEST_F(StoreTest, PrivacyChecksRefuseAndRepairNothing) {
    fs::create_directories(root_ / "loose/zavo/remote");
    ::chmod((root_ / "loose/zavo/remote").c_str(), 0755);
    fs::create_directories(root_ / "linked/zavo");
    fs::create_symlink(private_, root_ / "linked/zavo/remote");
    fs::create_symlink(file_, private_ / "link.json");
    fs::create_directory(private_ / "dir.json");
    std::ofstream(private_ / "shared.json") << "{\"entries\":[]}";
    ::chmod((private_ / "shared.json").c_str(), 0644);

    struct Case {
        const char* xdg;
        const char* explicit_path;
        std::string error;
    };
    const std::string parent_loose = "SSH host-key store parent must not be accessible to group or other users";
    const std::string not_regular = "SSH host-key store must be a regular file";
    const std::string no_parent = "SSH host-key store has no private parent directory";
    const Case cases[] = {
        {"loose", nullptr, parent_loose},
        {"linked", nullptr, "SSH host-key store parent must be a real directory"},
        {nullptr, "private/link.json", not_regular},
        {nullptr, "private/dir.json", not_regular},
        {nullptr, "private/shared.json", "SSH host-key store must not be accessible to group or other users"},
        {nullptr, "", no_parent},
        {nullptr, "known-hosts.json", no_parent},
        {nullptr, "/", no_parent},
    };
    for (const auto& c : cases) {
        ::unsetenv("XDG_STATE_HOME");
        ::unsetenv("REMOTE_SSH_KNOWN_HOSTS");
        if (c.xdg) ::setenv("XDG_STATE_HOME", (root_ / c.xdg).c_str(), 1);
        if (c.explicit_path) {
            std::string p = c.explicit_path;
            if (p.starts_with("private/")) p = (root_ / p).string();
            ::setenv("REMOTE_SSH_KNOWN_HOSTS", p.c_str(), 1);
        }
        EXPECT_EQ(known_hosts_path(), std::unexpected(c.error)) << (c.xdg ? c.xdg : c.explicit_path);
    }
    EXPECT_EQ(mode_of(root_ / "loose/zavo/remote"), 0755u);
    EXPECT_EQ(mode_of(private_ / "shared.json"), 0644u);

    // A shared store file makes load and every operation fail the same way.
    auto shared = private_ / "shared.json";
    EXPECT_EQ(known_hosts::load(shared).error(), "SSH host-key store must not be accessible to group or other users");
    EXPECT_FALSE(known_hosts::trust(shared, "h", 22, kEd));
    EXPECT_EQ(read_text(shared), "{\"entries\":[]}");
}

TEST_F(StoreTest, MissingFileIsAnEmptyStore) {
    auto store = known_hosts::load(file_);
    ASSERT_TRUE(store);
    EXPECT_TRUE(store->entries.empty());
    EXPECT_EQ(known_hosts::verify(*store, "h", 22, kEd), HostKeyVerdict(HostKeyUnknown{kEd}));
    EXPECT_EQ(known_hosts::forget(file_, "h", 22), false);
    EXPECT_FALSE(fs::exists(file_));
}

TEST_F(StoreTest, TrustForgetAndVerify) {
    ASSERT_TRUE(known_hosts::trust(file_, "example.org", 22, kEd));
    EXPECT_EQ(mode_of(file_), 0600u);
    EXPECT_EQ(read_text(file_), (KnownHosts{{{"example.org", 22, kEd}}}.serialize()));

    // The same identity again writes nothing (the file is not replaced).
    ino_t before = inode_of(file_);
    ASSERT_TRUE(known_hosts::trust(file_, "example.org", 22, kEd));
    EXPECT_EQ(inode_of(file_), before);

    // Another key for the same pin is refused and leaves the file.
    std::string content = read_text(file_);
    EXPECT_EQ(known_hosts::trust(file_, "example.org", 22, kRsa),
              std::unexpected("a different trusted host key already exists; forget it before retrusting"));
    EXPECT_EQ(read_text(file_), content);

    // Another port or another spelling of the host is another pin.
    ASSERT_TRUE(known_hosts::trust(file_, "example.org", 2222, kRsa));
    ASSERT_TRUE(known_hosts::trust(file_, "EXAMPLE.org", 22, kRsa));
    auto store = known_hosts::load(file_);
    ASSERT_TRUE(store);
    ASSERT_EQ(store->entries.size(), 3u);
    EXPECT_EQ(known_hosts::verify(*store, "example.org", 22, kEd), HostKeyVerdict(HostKeyTrusted{}));
    EXPECT_EQ(known_hosts::verify(*store, "example.org", 2222, kEd), HostKeyVerdict(HostKeyChanged{kRsa, kEd}));
    EXPECT_EQ(known_hosts::verify(*store, "example.org", 23, kEd), HostKeyVerdict(HostKeyUnknown{kEd}));

    EXPECT_EQ(known_hosts::forget(file_, "example.org", 2222), true);
    EXPECT_EQ(known_hosts::forget(file_, "example.org", 2222), false);
    store = known_hosts::load(file_);
    ASSERT_TRUE(store);
    EXPECT_EQ(store->entries, (std::vector<KnownHostEntry>{{"example.org", 22, kEd}, {"EXAMPLE.org", 22, kRsa}}));

    // Forgetting the last pins leaves a file with an empty list.
    EXPECT_EQ(known_hosts::forget(file_, "example.org", 22), true);
    EXPECT_EQ(known_hosts::forget(file_, "EXAMPLE.org", 22), true);
    EXPECT_EQ(read_text(file_), KnownHosts{}.serialize());
}

TEST_F(StoreTest, FirstOfDuplicatePinsDecidesAndForgetRemovesAll) {
    KnownHosts two{{{"h", 22, kRsa}, {"h", 22, kEd}}};
    ASSERT_TRUE(known_hosts::save(file_, two));
    auto store = known_hosts::load(file_);
    ASSERT_TRUE(store);
    EXPECT_EQ(known_hosts::verify(*store, "h", 22, kEd), HostKeyVerdict(HostKeyChanged{kRsa, kEd}));
    EXPECT_FALSE(known_hosts::trust(file_, "h", 22, kEd));
    EXPECT_EQ(known_hosts::forget(file_, "h", 22), true);
    EXPECT_TRUE(known_hosts::load(file_)->entries.empty());
}

TEST_F(StoreTest, CorruptFileKeepsFailing) {
    std::ofstream(file_) << "{\"entries\": [";
    ::chmod(file_.c_str(), 0600);
    auto store = known_hosts::load(file_);
    ASSERT_FALSE(store);
    EXPECT_NE(store.error().find(" at line 1 column"), std::string::npos) << store.error();
    EXPECT_FALSE(known_hosts::trust(file_, "h", 22, kEd));
    EXPECT_FALSE(known_hosts::forget(file_, "h", 22));
    EXPECT_EQ(read_text(file_), "{\"entries\": [");
}

TEST(HostKeyProblemTest, Messages) {
    EXPECT_EQ(message(HostKeyUnknown{kEd}, "10.0.0.1", 2222),
              "SSH host key for 10.0.0.1:2222 needs explicit trust: ssh-ed25519 " + kEd.fingerprint);
    EXPECT_EQ(message(HostKeyChanged{kRsa, kEd}, "h", 22), "SSH host key changed for h:22. Expected ssh-rsa " +
                                                               kRsa.fingerprint + "; received ssh-ed25519 " +
                                                               kEd.fingerprint + ". Connection blocked.");
    EXPECT_EQ(message(HostKeyStoreUnavailable{"boom"}, "h", 22), "SSH host-key store is unavailable: boom");
}

}  // namespace
