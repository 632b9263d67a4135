# Thin wrapper over the CMake presets. `make test` and `make run` set up a fresh Debian 12
# machine: as root they install what is missing with apt-get, otherwise they print the line.

PRESET ?= debug
BUILD_DIR := build/$(PRESET)
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
CMAKE_FLAGS ?=
ifeq ($(CI),true)
CMAKE_FLAGS += -DTARVEN_WERROR=ON
endif

# Build and test dependencies, all from Debian 12.
PACKAGES := cmake make g++ pkgconf libgtest-dev libgmock-dev libbenchmark-dev libssl-dev \
            qt6-base-dev libx11-dev xvfb xauth trayer xdotool x11-utils imagemagick \
            dpkg-dev file man-db debhelper lintian
# The Windows cross build, its installer and the check under Wine, also from Debian 12.
WINDOWS_PACKAGES := cmake make g++-mingw-w64-x86-64-posix nsis wine wine64 zip unzip binutils

.PHONY: all deps configure build test run sanitize clean fuzz check-leaks bench package \
        deps-windows package-windows

all: build

deps:
	@missing=""; \
	for p in $(PACKAGES); do \
	  dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q 'install ok installed' || missing="$$missing $$p"; \
	done; \
	if [ -n "$$missing" ]; then \
	  if [ "$$(id -u)" = 0 ]; then \
	    echo "Installing:$$missing"; \
	    apt-get update -q && DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends $$missing; \
	  else \
	    echo "Missing build dependencies. Install them with:"; \
	    echo "  sudo apt-get install -y$$missing"; \
	    exit 1; \
	  fi; \
	fi

configure: deps
	cmake --preset $(PRESET) $(CMAKE_FLAGS)

build: configure
	cmake --build --preset $(PRESET) --parallel $(JOBS)

test: build
	ctest --preset $(PRESET)

sanitize:
	$(MAKE) test PRESET=sanitize

run: build
	@bash scripts/run-demo.sh $(BUILD_DIR)

fuzz:
	@bash scripts/fuzz.sh

check-leaks: build
	@bash scripts/check-leaks.sh $(BUILD_DIR)

bench:
	@bash bench/run-bench.sh

package: deps
	@CMAKE_FLAGS="$(CMAKE_FLAGS)" bash packaging/build-package.sh

deps-windows:
	@$(MAKE) --no-print-directory deps PACKAGES="$(WINDOWS_PACKAGES)"

package-windows: deps-windows
	@CMAKE_FLAGS="$(CMAKE_FLAGS)" bash packaging/windows/build-windows-package.sh

clean:
	rm -rf build
