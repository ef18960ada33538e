# Wraps CMake. `make run` and `make test` first install what a fresh Debian 12
# machine is missing, then configure into build/, build, and run.

BUILD_DIR ?= build
BUILD_TYPE ?= RelWithDebInfo
JOBS ?= $(shell nproc 2>/dev/null || echo 2)

# Debian packages the build and the tests need.
PACKAGES = g++ cmake make qt6-base-dev libgl-dev fonts-dejavu-core
SUDO = $(shell [ "$$(id -u)" = 0 ] && echo "" || (command -v sudo >/dev/null && echo sudo) || echo NONE)

.PHONY: all deps build run test clean

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

$(BUILD_DIR)/CMakeCache.txt: | deps
	cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=$(BUILD_TYPE)

build: deps $(BUILD_DIR)/CMakeCache.txt
	cmake --build $(BUILD_DIR) --parallel $(JOBS)

run: build
	./$(BUILD_DIR)/stockbook

test: build
	cd $(BUILD_DIR) && ctest --output-on-failure --parallel $(JOBS)

clean:
	rm -rf $(BUILD_DIR)
