# Front for the CMake build. Every target first installs what is missing (scripts/install-deps).
BUILD   ?= build
JOBS    ?= $(shell nproc)
CMAKE_FLAGS ?=
CONFIGURE = cmake -S . -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS)

.PHONY: all deps build run test bench screenshots check-sanitize check-tsan fuzz clean

all: build

deps:
	@scripts/install-deps

build: deps
	@$(CONFIGURE) -B $(BUILD) >/dev/null
	cmake --build $(BUILD) -j $(JOBS)

run: build
	$(BUILD)/remote $(ARGS)

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
