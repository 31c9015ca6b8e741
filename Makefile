# Front for the CMake build. Every target first installs what is missing (scripts/install-deps);
# `make run` only what the program needs.
BUILD   ?= build
JOBS    ?= $(shell nproc)
CMAKE_FLAGS ?=
CONFIGURE = cmake -S . -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS)

.PHONY: all deps program-deps build run test bench screenshots check-sanitize check-tsan fuzz clean

all: build

deps:
	@scripts/install-deps

# What building and running the program needs, without the tests' peers and packages.
program-deps:
	@scripts/install-deps --program

build: deps
	@$(CONFIGURE) -B $(BUILD) >/dev/null
	cmake --build $(BUILD) -j $(JOBS)

# `make run` grants live SSH and VNC sessions (REMOTE_LIVE_SESSIONS=1) unless the caller set
# REMOTE_LIVE_SESSIONS to anything, even the empty text (which grants them too); LIVE=0
# starts without them.
ifeq ($(origin REMOTE_LIVE_SESSIONS),undefined)
RUN_ENV = REMOTE_LIVE_SESSIONS=1
endif
ifeq ($(LIVE),0)
RUN_ENV = -u REMOTE_LIVE_SESSIONS
endif

# Only the program: the tests and benchmarks are built by `make build` and `make test`.
run: program-deps
	@$(CONFIGURE) -B $(BUILD) >/dev/null
	cmake --build $(BUILD) --target remote -j $(JOBS)
	env $(RUN_ENV) $(BUILD)/remote $(ARGS)

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS) $(CTEST_ARGS)

bench: build
	cmake --build $(BUILD) --target benchmarks -j $(JOBS)
	@scripts/run-benchmarks $(BUILD)

screenshots: build
	@scripts/screenshots $(BUILD)

# The whole suite under AddressSanitizer and UndefinedBehaviorSanitizer.
check-sanitize: deps
	@$(CONFIGURE) -B build-asan -DREMOTE_SANITIZE=ON >/dev/null
	cmake --build build-asan -j $(JOBS)
	cd build-asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
	  ctest --output-on-failure -j $(JOBS) $(CTEST_ARGS)

# The threaded parts under ThreadSanitizer.
check-tsan: deps
	@$(CONFIGURE) -B build-tsan -DREMOTE_TSAN=ON >/dev/null
	cmake --build build-tsan -j $(JOBS)
	cd build-tsan && ctest --output-on-failure -j $(JOBS) -L threads $(CTEST_ARGS)

# libFuzzer programs (clang), in build-fuzz/fuzz/fuzz_<name>. clang 16 compiles libstdc++ 12's
# <expected> once told that it implements C++20 concepts in full.
FUZZ_CXXFLAGS = -D__cpp_concepts=202002L -Wno-macro-redefined
fuzz: deps
	@CC=clang-16 CXX=clang++-16 $(CONFIGURE) -B build-fuzz -DREMOTE_FUZZ=ON -DREMOTE_SANITIZE=ON \
	  -DCMAKE_CXX_FLAGS="$(FUZZ_CXXFLAGS)" >/dev/null
	cmake --build build-fuzz --target fuzzers -j $(JOBS)

clean:
	rm -rf $(BUILD) build-asan build-tsan build-fuzz
