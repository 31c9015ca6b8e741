// 256 MiB from `cat` in the shell of a local sshd, with a pseudo-terminal: through our worker
// into its output channel, against OpenSSH's own client (`ssh -tt`) in the same run.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <memory>
#include <optional>
#include <thread>

#include "ssh/ssh_worker.hpp"
#include "tests/integration/ssh_server.hpp"

namespace {

using namespace ssh_test;

constexpr std::size_t kFileSize = 256u << 20;

struct Setup {
    std::unique_ptr<SshServer> server;
    std::string file;
    std::string known_hosts_line;
    std::string error;
};

Setup& setup() {
    static Setup s = [] {
        Setup s;
        if (auto why = SshServer::unavailable(); !why.empty()) {
            s.error = why;
            return s;
        }
        try {
            s.server = std::make_unique<SshServer>();
            s.server->trust();
        } catch (const std::exception& e) {
            s.error = e.what();
            return s;
        }
        s.file = (s.server->store().parent_path().parent_path() / "payload.txt").string();
        run("head -c " + std::to_string(kFileSize * 3 / 4 + 4096) + " /dev/urandom | base64 -w 76 | head -c " +
            std::to_string(kFileSize) + " > " + s.file);
        std::string pub = run("cat " + s.server->host_key().string() + ".pub");
        pub = pub.substr(0, pub.rfind(' '));
        s.known_hosts_line = "[127.0.0.1]:" + std::to_string(s.server->port()) + " " + pub;
        std::ofstream(s.server->store().parent_path() / "openssh_known_hosts") << s.known_hosts_line << "\n";
        return s;
    }();
    return s;
}

void BM_SshOurWorker(benchmark::State& state) {
    auto& s = setup();
    if (!s.error.empty()) {
        state.SkipWithError(s.error.c_str());
        return;
    }
    std::size_t total = 0;
    for (auto _ : state) {
        auto status = remote::make_shared_cell(remote::SessionStatus::connecting());
        auto host_key = remote::make_shared_cell<std::optional<remote::HostKeyProblem>>(std::nullopt);
        auto [out_tx, out_rx] = remote::make_bounded_channel<remote::SshChunk>(remote::kSshOutputCapacity);
        auto [in_tx, in_rx] = remote::make_bounded_channel<remote::SshInput>(remote::kSshInputCapacity);
        auto request = s.server->request(remote::SshKeyCredentials{s.server->client_key(), std::nullopt});
        std::thread worker([&, request = std::move(request), out = std::move(out_tx), in = std::move(in_rx)]() mutable {
            remote::run_ssh_session_thread(std::move(request), status, host_key, std::move(out), std::move(in));
        });
        (void)in_tx.try_send(remote::SshInput{"exec cat " + s.file + "\n", std::nullopt});
        std::size_t bytes = 0;
        while (auto chunk = out_rx.recv()) bytes += chunk->size();
        worker.join();
        if (bytes < kFileSize) state.SkipWithError(("short read: " + status->get().text).c_str());
        total += bytes;
    }
    state.SetBytesProcessed(std::int64_t(total));
}

void BM_SshOpenSshClient(benchmark::State& state) {
    auto& s = setup();
    if (!s.error.empty()) {
        state.SkipWithError(s.error.c_str());
        return;
    }
    const std::string known = (s.server->store().parent_path() / "openssh_known_hosts").string();
    const std::string command =
        "ssh -tt -F /dev/null -o BatchMode=yes -o StrictHostKeyChecking=yes -o UserKnownHostsFile=" + known +
        " -o GlobalKnownHostsFile=/dev/null -i " + s.server->client_key().string() + " -p " +
        std::to_string(s.server->port()) + " root@127.0.0.1 'exec cat " + s.file + "' < /dev/null | wc -c";
    std::size_t total = 0;
    for (auto _ : state) {
        std::size_t bytes = std::strtoull(run(command).c_str(), nullptr, 10);
        if (bytes < kFileSize) state.SkipWithError("ssh -tt read less than the file");
        total += bytes;
    }
    state.SetBytesProcessed(std::int64_t(total));
}

BENCHMARK(BM_SshOurWorker)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();
BENCHMARK(BM_SshOpenSshClient)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    setup().server.reset();
    benchmark::Shutdown();
}
