# `make run` and `make test` do all the set-up: missing packages, configure, build.
BUILD_DIR ?= build
CMAKE_FLAGS ?= -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
JOBS ?= $(shell nproc)

# The fuzzers' clang build, and the seconds each fuzzer runs in `make test` and `make fuzz`.
FUZZ_DIR ?= build-fuzz
FUZZ_TEST_SECONDS ?= 5
FUZZ_SECONDS ?= 120
# The suites `make sanitize` builds and runs with AddressSanitizer and UBSan: every one that never
# makes a page. Those that do run Chromium inside the test process, which is not built for ASan.
ASAN_DIR ?= build-asan
SANITIZED_SUITES ?= themes core crash vault preview editor chrome shell desktop package
empty :=
space := $(empty) $(empty)

.PHONY: all setup configure build run test clean fuzz-build fuzz sanitize package

all: build

setup:
	@scripts/setup

configure: setup
	@test -f $(BUILD_DIR)/CMakeCache.txt || cmake -S . -B $(BUILD_DIR) $(CMAKE_FLAGS)

build: configure
	cmake --build $(BUILD_DIR) --parallel

run: build
	@scripts/run-sample $(BUILD_DIR)

test: build fuzz-build
	cd $(BUILD_DIR) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure
	fuzz/run $(FUZZ_DIR) $(FUZZ_TEST_SECONDS)

fuzz-build: setup
	@test -f $(FUZZ_DIR)/CMakeCache.txt || CC=clang CXX=clang++ cmake -S . -B $(FUZZ_DIR) \
		-G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUORVEL_FUZZ=ON
	cmake --build $(FUZZ_DIR) --parallel $(JOBS) --target fuzzers

fuzz: fuzz-build
	fuzz/run $(FUZZ_DIR) $(FUZZ_SECONDS)

sanitize: setup
	@test -f $(ASAN_DIR)/CMakeCache.txt || cmake -S . -B $(ASAN_DIR) \
		-G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUORVEL_SANITIZE=ON
	cmake --build $(ASAN_DIR) --parallel $(JOBS) --target $(addprefix tst_,$(SANITIZED_SUITES))
	cd $(ASAN_DIR) && QT_QPA_PLATFORM=offscreen \
		LSAN_OPTIONS=suppressions=$(CURDIR)/tests/lsan-suppressions.txt \
		ctest --output-on-failure -R '^($(subst $(space),|,$(SANITIZED_SUITES)))$$'

# A .deb of the build for /usr (see packaging/CMakeLists.txt), judged by lintian. Only what is
# installed is built: the program (with its page) and the compressed manual and changelog.
package: configure
	@scripts/setup --package
	cmake --build $(BUILD_DIR) --parallel $(JOBS) --target quorvel quorvel_docs
	rm -f $(BUILD_DIR)/quorvel_*.deb
	cd $(BUILD_DIR) && cpack -G DEB
	lintian --fail-on error $(BUILD_DIR)/quorvel_*.deb

clean:
	rm -rf $(BUILD_DIR) $(FUZZ_DIR) $(ASAN_DIR)
