#pragma once
// A private OpenSSH server on 127.0.0.1 for the SSH tests and benchmarks: its own host key,
// config, authorized keys and free port in a temporary folder; stopped and removed afterwards.
// Failures to start throw std::runtime_error.
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "ssh/ssh_session.hpp"
#include "support/env.hpp"
#include "support/files.hpp"
#include "support/loopback.hpp"
#include "support/process.hpp"
#include "support/temp_dir.hpp"

extern char** environ;

namespace ssh_test {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using test_support::read_text;

// What the command writes to its standard output and error.
inline std::string run(const std::string& command) { return test_support::output_of(command + " 2>&1"); }

inline std::string random_word(std::size_t n) {
    static std::mt19937_64 rng{std::random_device{}()};
    std::string s(n, 'a');
    for (auto& c : s) c = char('a' + rng() % 26);
    return s;
}

class SshServer {
public:
    static constexpr const char* kSshd = "/usr/sbin/sshd";

    // How the server treats a public key offered for authentication: it answers, or it stalls
    // there as one does whose key lookup hangs (a broken directory service or home folder): the
    // lookup command never returns.
    enum class KeyLookup { Answers, Stalls };

    // Empty when the server can run here, else why not.
    static std::string unavailable() {
        if (!fs::exists(kSshd)) return "OpenSSH sshd is not installed (scripts/install-deps installs openssh-server)";
        if (::geteuid() != 0) return "sshd needs root to authenticate users";
        return {};
    }

    explicit SshServer(KeyLookup lookup = KeyLookup::Answers) : lookup_(lookup) {
        ::chmod(dir_.c_str(), 0755);
        fs::create_directories("/run/sshd");
        run("ssh-keygen -q -N '' -t ed25519 -f " + host_key().string());
        run("ssh-keygen -q -N '' -t ed25519 -C client -f " + client_key().string());
        run("ssh-keygen -q -N 'correct horse' -t ed25519 -C locked -f " + locked_key().string());
        run("ssh-keygen -q -N '' -t ed25519 -C stranger -f " + stranger_key().string());
        std::ofstream(dir_ / "authorized_keys")
            << read_text(client_key().string() + ".pub") << read_text(locked_key().string() + ".pub");
        ::chmod((dir_ / "authorized_keys").c_str(), 0644);
        store_dir_ = dir_ / "state";
        fs::create_directory(store_dir_);
        ::chmod(store_dir_.c_str(), 0700);
        port_ = test_support::free_port();
        // Sessions log in as a throwaway account with a plain shell: root's login shell runs
        // the machine's own profile, which may hold a lock or wait on one.
        user_ = "rmt" + random_word(8);
        for (int attempt = 0; attempt < 20; ++attempt) {
            run("useradd -M -d /tmp -s /bin/sh " + user_);
            if (run("id -u " + user_).find_first_not_of("0123456789\n") == std::string::npos) break;
            std::this_thread::sleep_for(100ms);  // another test may hold the account files' lock
        }
        make_user(random_word(16));  // an account without a password is locked, keys and all
        start();                     // if it throws, tmp_ removes the folder
    }

    ~SshServer() {
        stop();
        // The stalled lookups run on in sessions of their own.
        std::ifstream stalled(lookups());
        for (pid_t pid; stalled >> pid;)
            if (pid > 0) ::kill(pid, SIGKILL);
        if (!command_dir_.empty()) fs::remove_all(command_dir_);
        if (!user_.empty()) run("userdel -f " + user_);
    }

    std::uint16_t port() const { return port_; }
    fs::path host_key() const { return dir_ / "host_ed25519"; }
    fs::path client_key() const { return dir_ / "client_ed25519"; }
    fs::path locked_key() const { return dir_ / "locked_ed25519"; }
    // A key the server does not accept.
    fs::path stranger_key() const { return dir_ / "stranger_ed25519"; }
    fs::path store() const { return store_dir_ / "known-hosts.json"; }
    fs::path log() const { return dir_ / "sshd.log"; }
    // One line for every key lookup that stalled, with its process id.
    fs::path lookups() const { return dir_ / "lookups"; }

    // What ssh-keygen shows for a key of the server (its Ed25519 key unless told).
    remote::HostKeyIdentity identity(const fs::path& key, std::string algorithm) const {
        std::string line = run("ssh-keygen -l -E sha256 -f " + key.string() + ".pub");
        auto begin = line.find("SHA256:");
        return {std::move(algorithm), line.substr(begin, line.find(' ', begin) - begin)};
    }
    remote::HostKeyIdentity identity() const { return identity(host_key(), "ssh-ed25519"); }

    // Restarts the server with one more host key of the type ("ecdsa", "rsa"); returns its file.
    fs::path add_host_key(const std::string& type) {
        stop();
        fs::path key = dir_ / ("host_" + type);
        run("ssh-keygen -q -N '' -t " + type + " -f " + key.string());
        extra_host_keys_.push_back(key);
        start();
        return key;
    }

    void trust() const {
        if (auto r = remote::known_hosts::trust(store(), "127.0.0.1", port_, identity()); !r)
            throw std::runtime_error("trust: " + r.error());
    }

    // Restarts the server on the same port with a new host key.
    void regenerate_host_key() {
        stop();
        fs::remove(host_key());
        fs::remove(host_key().string() + ".pub");
        run("ssh-keygen -q -N '' -t ed25519 -f " + host_key().string());
        start();
    }
    // Restarts the server on the same port with the Ed25519 key in `key` and `key`.pub.
    void use_host_key(const fs::path& key) {
        stop();
        fs::copy_file(key, host_key(), fs::copy_options::overwrite_existing);
        fs::copy_file(key.string() + ".pub", host_key().string() + ".pub", fs::copy_options::overwrite_existing);
        ::chmod(host_key().c_str(), 0600);
        start();
    }

    // The account sessions log in as; removed with the server.
    const std::string& user() const { return user_; }

    // Gives that account a password and returns its name.
    std::string make_user(const std::string& password) {
        for (int attempt = 0; attempt < 20; ++attempt) {
            if (run("echo '" + user_ + ":" + password + "' | chpasswd").empty()) break;
            std::this_thread::sleep_for(100ms);
        }
        return user_;
    }

    // The program's variables for live SSH sessions to this server, with its client key and trust
    // store, and its data in private folders under `home`.
    void program_env(test_support::EnvGuard& env, const fs::path& home) const {
        env.set("REMOTE_LIVE_SESSIONS", "1");
        env.set("REMOTE_SSH_KEY", client_key().c_str());
        env.set("REMOTE_SSH_KEY_PASSPHRASE", nullptr);
        env.set("REMOTE_SSH_KNOWN_HOSTS", store().c_str());
        env.set("XDG_DATA_HOME", (home / "data").c_str());
        env.set("XDG_STATE_HOME", (home / "state").c_str());
        env.set("ZAVO_REMOTE_SAMPLE", nullptr);
    }

    remote::SshSessionRequest request(remote::SshCredentials credentials, std::string user = {}) const {
        return {"127.0.0.1", user.empty() ? user_ : std::move(user), store(), std::move(credentials), port_, 80, 24};
    }

private:
    void start() {
        std::ofstream(dir_ / "sshd_config") << "Port " << port_ << "\n"
                                            << "ListenAddress 127.0.0.1\n"
                                            << "HostKey " << host_key().string() << "\n"
                                            << extra_host_keys() << "PidFile " << (dir_ / "sshd.pid").string() << "\n"
                                            << key_lookup()
                                            << "UsePAM no\nStrictModes no\nPermitRootLogin yes\n"
                                            << "PasswordAuthentication yes\nKbdInteractiveAuthentication no\n"
                                            << "PrintMotd no\nPrintLastLog no\nLogLevel DEBUG2\n";
        std::string config = (dir_ / "sshd_config").string();
        std::string logfile = log().string();
        const char* argv[] = {kSshd, "-D", "-f", config.c_str(), "-E", logfile.c_str(), nullptr};
        posix_spawnattr_t attr;
        posix_spawnattr_init(&attr);
        posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP);
        posix_spawnattr_setpgroup(&attr, 0);
        int rc = posix_spawn(&pid_, kSshd, nullptr, &attr, const_cast<char**>(argv), environ);
        posix_spawnattr_destroy(&attr);
        if (rc != 0) throw std::runtime_error("could not start sshd");
        auto deadline = std::chrono::steady_clock::now() + 10s;
        while (!test_support::accepts(port_)) {
            int status;
            if (::waitpid(pid_, &status, WNOHANG) != 0) {
                pid_ = -1;
                throw std::runtime_error("sshd exited: " + read_text(logfile));
            }
            if (std::chrono::steady_clock::now() > deadline)
                throw std::runtime_error("sshd does not listen: " + read_text(logfile));
            std::this_thread::sleep_for(20ms);
        }
    }

    // sshd runs a lookup command only from a path that nobody but root can change, so it goes
    // in a folder of its own under /run rather than under /tmp.
    std::string key_lookup() {
        if (lookup_ == KeyLookup::Answers) return "AuthorizedKeysFile " + (dir_ / "authorized_keys").string() + "\n";
        if (command_dir_.empty()) {
            std::string pattern = "/run/remote-sshd.XXXXXX";
            if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp under /run failed");
            command_dir_ = pattern;
            ::chmod(command_dir_.c_str(), 0755);
            std::ofstream(command_dir_ / "lookup") << "#!/bin/sh\necho $$ >> " << lookups().string()
                                                   << "\nexec sleep 600\n";
            ::chmod((command_dir_ / "lookup").c_str(), 0755);
        }
        return "AuthorizedKeysFile none\nAuthorizedKeysCommand " + (command_dir_ / "lookup").string() +
               " %u\nAuthorizedKeysCommandUser root\n";
    }

    std::string extra_host_keys() const {
        std::string lines;
        for (const auto& key : extra_host_keys_) lines += "HostKey " + key.string() + "\n";
        return lines;
    }

    void stop() {
        if (pid_ <= 0) return;
        ::kill(-pid_, SIGTERM);  // the server and its session processes
        int status;
        ::waitpid(pid_, &status, 0);
        pid_ = -1;
    }

    KeyLookup lookup_;
    fs::path command_dir_;
    test_support::TempDir tmp_{"remote-sshd.", "/tmp"};
    fs::path dir_ = tmp_.path();
    fs::path store_dir_;
    std::uint16_t port_ = 0;
    pid_t pid_ = -1;
    std::string user_;
    std::vector<fs::path> extra_host_keys_;
};

}  // namespace ssh_test
