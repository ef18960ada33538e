# SPDX-License-Identifier: GPL-3.0-or-later

# Wraps CMake. Each target first installs the Debian packages it needs that a
# Debian 12 machine is missing, then configures into build/ and builds:
# `make build`, `make run` and `make install` the program alone, `make test`
# and the other test targets everything, the tests and the benchmark too.

BUILD_DIR ?= build
BUILD_TYPE ?= RelWithDebInfo
JOBS ?= $(shell nproc 2>/dev/null || echo 2)

# What building and running the program need (the fonts come with Qt).
PACKAGES = g++ cmake make pkg-config qt6-base-dev libgl-dev libgit2-dev libssl-dev
# What the tests need besides: an X server for the screenshots and the
# launcher, a robot to click in the window, the desktop entry tools and the
# session bus tools that ordinary desktops have; for `make test-sync` two
# Syncthing instances, and ss to see where their sockets go.
TEST_PACKAGES = xvfb xauth xdotool imagemagick desktop-file-utils libglib2.0-bin dbus-x11
TEST_PACKAGES += syncthing iproute2
SUDO = $(shell [ "$$(id -u)" = 0 ] && echo "" || (command -v sudo >/dev/null && echo sudo) || echo NONE)

# apt-get installs for one step at a time: the steps run in order.
.NOTPARALLEL:
.PHONY: all deps test-deps build build-all run test clean install uninstall

all: build

deps:
	@missing=""; for p in $(PACKAGES); do \
	    dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q "install ok installed" || missing="$$missing $$p"; \
	done; \
	if [ -n "$$missing" ]; then \
	    if [ "$(SUDO)" = NONE ]; then \
	        echo "Missing packages:$$missing"; \
	        echo "Run as root: apt-get update && apt-get install -y$$missing"; \
	        exit 1; \
	    fi; \
	    echo "Installing:$$missing"; \
	    $(SUDO) apt-get update && DEBIAN_FRONTEND=noninteractive $(SUDO) apt-get install -y --no-install-recommends$$missing; \
	fi

test-deps:
	@$(MAKE) --no-print-directory deps PACKAGES="$(PACKAGES) $(TEST_PACKAGES)"

$(BUILD_DIR)/CMakeCache.txt: | deps
	cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=$(BUILD_TYPE)

# The program alone.
build: deps $(BUILD_DIR)/CMakeCache.txt
	cmake --build $(BUILD_DIR) --target stockbook --parallel $(JOBS)

run: build
	./$(BUILD_DIR)/stockbook

# The program, the tests and the benchmark.
build-all: test-deps $(BUILD_DIR)/CMakeCache.txt
	cmake --build $(BUILD_DIR) --parallel $(JOBS)

test: build-all
	cd $(BUILD_DIR) && ctest --output-on-failure --parallel $(JOBS)

# Two machines that share the database folder through Syncthing, as two
# instances on this machine that talk over 127.0.0.1 only, and a window on each
# folder driven through the sync scenarios (a minute or two).
.PHONY: test-sync
test-sync: build-all
	cmake --build $(BUILD_DIR) --target tst_sync --parallel $(JOBS)
	scripts/sync_test.sh $(BUILD_DIR)

# Several machines and a sync tool simulated in one process, over more seeds
# than `make test` runs (HISTORY_SEEDS; the first seed, or one to replay: STOCKBOOK_SIMULATION_SEED).
HISTORY_SEEDS ?= 3000
.PHONY: test-history
test-history: build-all
	cd $(BUILD_DIR) && STOCKBOOK_SIMULATION_SEEDS=$(HISTORY_SEEDS) ./tests/tst_history_simulation

# Times the record store and the window on generated databases of 1,000 to
# 1,000,000 records and prints one table (several minutes; the window offscreen).
.PHONY: bench
bench: build-all
	QT_QPA_PLATFORM=offscreen ./$(BUILD_DIR)/bench/stockbook_bench

# The program goes to $(PREFIX)/opt/stockbook, where its database is written,
# so the default is a folder the user owns. DESTDIR stages an install.
PREFIX ?= $(HOME)/.local

install: build
	DESTDIR="$(DESTDIR)" cmake --install $(BUILD_DIR) --prefix "$(PREFIX)"

uninstall: $(BUILD_DIR)/packaging/uninstall.cmake
	DESTDIR="$(DESTDIR)" cmake -DCMAKE_INSTALL_PREFIX="$(PREFIX)" -P $(BUILD_DIR)/packaging/uninstall.cmake

# Written when CMake configures the build folder.
$(BUILD_DIR)/packaging/uninstall.cmake: | $(BUILD_DIR)/CMakeCache.txt
	cmake -S . -B $(BUILD_DIR)

clean:
	rm -rf $(BUILD_DIR)

# Further runs, each in a build directory of its own.
# `make test-sanitize`: every test under AddressSanitizer and
# UndefinedBehaviorSanitizer (g++). `make fuzz`: each libFuzzer target for
# FUZZ_SECONDS (clang); `make fuzz-smoke` the same for FUZZ_SMOKE_SECONDS.
PORTABLE_DIR ?= build-portable
SANITIZE_DIR ?= build-sanitize
SANITIZE_FLAGS = -fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer
# Random window sessions under the sanitizers (the plain `make test` runs 1000).
SANITIZE_SESSIONS ?= 300
FUZZ_DIR ?= build-fuzz
FUZZ_SECONDS ?= 120
FUZZ_SMOKE_SECONDS ?= 5
FUZZ_PACKAGES = clang libclang-rt-14-dev
.PHONY: test-portable test-sanitize fuzz-build fuzz fuzz-smoke

# `make test-portable`: every test against the record store's portable file
# system calls and byte scans (Qt and standard C++ only), the code a Windows
# build uses, here on Linux.
$(PORTABLE_DIR)/CMakeCache.txt: | deps
	cmake -S . -B $(PORTABLE_DIR) -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) -DSTOCKBOOK_PORTABLE=ON

test-portable: test-deps $(PORTABLE_DIR)/CMakeCache.txt
	cmake --build $(PORTABLE_DIR) --parallel $(JOBS)
	cd $(PORTABLE_DIR) && ctest --output-on-failure --parallel $(JOBS)

$(SANITIZE_DIR)/CMakeCache.txt: | deps
	cmake -S . -B $(SANITIZE_DIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_FLAGS="$(SANITIZE_FLAGS)"

test-sanitize: test-deps $(SANITIZE_DIR)/CMakeCache.txt
	cmake --build $(SANITIZE_DIR) --parallel $(JOBS)
	cd $(SANITIZE_DIR) && ASAN_OPTIONS=detect_leaks=1:detect_stack_use_after_return=1 \
	    LSAN_OPTIONS=suppressions=$(CURDIR)/tests/lsan.supp:print_suppressions=0 \
	    UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	    STOCKBOOK_SESSIONS=$(SANITIZE_SESSIONS) \
	    ctest --output-on-failure --parallel $(JOBS)

fuzz-build:
	@$(MAKE) --no-print-directory deps PACKAGES="$(PACKAGES) $(TEST_PACKAGES) $(FUZZ_PACKAGES)"
	@[ -f $(FUZZ_DIR)/CMakeCache.txt ] || cmake -S . -B $(FUZZ_DIR) -DSTOCKBOOK_FUZZ=ON \
	    -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build $(FUZZ_DIR) --parallel $(JOBS)

fuzz: fuzz-build
	scripts/run_fuzzers.sh $(FUZZ_DIR) $(FUZZ_SECONDS)

fuzz-smoke: fuzz-build
	scripts/run_fuzzers.sh $(FUZZ_DIR) $(FUZZ_SMOKE_SECONDS)
