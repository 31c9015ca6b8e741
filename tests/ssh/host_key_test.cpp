#include "ssh/ssh_worker.hpp"
#include "support/process.hpp"
#include "support/temp_dir.hpp"

#include <gtest/gtest.h>
#include <libssh/libssh.h>
#include <sys/stat.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>

namespace fs = std::filesystem;
using namespace remote;

namespace {

class HostKeyTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!fs::exists("/usr/bin/ssh-keygen")) GTEST_SKIP() << "ssh-keygen is not installed";
    }

    // A fresh key of the type; its public half as libssh reads it.
    ssh_key make_key(const std::string& type, const std::string& name) {
        fs::path file = dir_ / name;
        test_support::output_of("ssh-keygen -q -N '' -t " + type + " -f " + file.string() + " 2>&1");
        ssh_key key = nullptr;
        EXPECT_EQ(ssh_pki_import_pubkey_file((file.string() + ".pub").c_str(), &key), SSH_OK);
        keys_.emplace_back(key, ssh_key_free);
        return key;
    }
    std::string keygen_fingerprint(const std::string& name) {
        // "256 SHA256:... comment (ED25519)"
        std::string line = test_support::output_of("ssh-keygen -l -E sha256 -f " + (dir_ / (name + ".pub")).string());
        auto begin = line.find("SHA256:");
        return line.substr(begin, line.find(' ', begin) - begin);
    }

    test_support::TempDir tmp_{"host_key_test.", "/tmp"};
    fs::path dir_ = tmp_.path();
    std::vector<std::unique_ptr<std::remove_pointer_t<ssh_key>, decltype(&ssh_key_free)>> keys_;
};

TEST_F(HostKeyTest, IdentityMatchesSshKeygen) {
    struct Case {
        const char* type;
        const char* algorithm;
    };
    const Case cases[] = {
        {"ed25519", "ssh-ed25519"},
        {"ecdsa -b 256", "ecdsa-sha2-nistp256"},
        {"ecdsa -b 384", "ecdsa-sha2-nistp384"},
        {"ecdsa -b 521", "ecdsa-sha2-nistp521"},
        {"rsa -b 2048", "ssh-rsa"},
    };
    int i = 0;
    for (const auto& c : cases) {
        std::string name = "key" + std::to_string(i++);
        ssh_key key = make_key(c.type, name);
        ASSERT_NE(key, nullptr);
        HostKeyIdentity identity = host_key_identity_from_public_key(key);
        EXPECT_EQ(identity.algorithm, c.algorithm);
        EXPECT_EQ(identity.fingerprint, keygen_fingerprint(name)) << c.type;
        EXPECT_EQ(identity.fingerprint.size(), 7u + 43u);
    }
}

TEST_F(HostKeyTest, ServerKeyCheckLeavesTheProblemInTheCell) {
    ssh_key key = make_key("ed25519", "server");
    ssh_key other = make_key("ed25519", "other");
    HostKeyIdentity presented = host_key_identity_from_public_key(key);
    fs::path store_dir = dir_ / "store";
    fs::create_directory(store_dir);
    ::chmod(store_dir.c_str(), 0700);
    fs::path store = store_dir / "known-hosts.json";

    auto cell = make_shared_cell<std::optional<HostKeyProblem>>(std::nullopt);
    EXPECT_FALSE(check_server_key(store, "h", 22, key, cell));
    EXPECT_EQ(cell->get(), HostKeyProblem(HostKeyUnknown{presented}));

    ASSERT_TRUE(known_hosts::trust(store, "h", 22, presented));
    cell = make_shared_cell<std::optional<HostKeyProblem>>(std::nullopt);
    EXPECT_TRUE(check_server_key(store, "h", 22, key, cell));
    EXPECT_EQ(cell->get(), std::nullopt);

    EXPECT_FALSE(check_server_key(store, "h", 22, other, cell));
    EXPECT_EQ(cell->get(), HostKeyProblem(HostKeyChanged{presented, host_key_identity_from_public_key(other)}));

    ::chmod(store.c_str(), 0644);
    EXPECT_FALSE(check_server_key(store, "h", 22, key, cell));
    EXPECT_EQ(
        cell->get(),
        HostKeyProblem(HostKeyStoreUnavailable{"SSH host-key store must not be accessible to group or other users"}));
}

}  // namespace
