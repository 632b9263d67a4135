# Thin wrapper over the CMake presets. `make test` and `make run` set up a fresh Debian 12
# machine: as root they install what is missing with apt-get, otherwise they print the line.

SHELL := /bin/bash
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
# The Windows build, its installer and the checks under Wine, also from Debian 12.
WINDOWS_PACKAGES := g++-mingw-w64-x86-64-posix wine wine64 nsis zip unzip binutils
WINDOWS_PRESET ?= windows
WINDOWS_BUILD_DIR := build/$(WINDOWS_PRESET)

.PHONY: all deps deps-windows configure build test test-linux test-windows build-windows run tls-helper \
        sanitize clean fuzz check-leaks bench package package-windows

all: build

# Installs what is missing of $(1) as root, otherwise prints the apt-get line.
define install-missing
	@missing=""; \
	for p in $(1); do \
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
endef

deps:
	$(call install-missing,$(PACKAGES))

deps-windows:
	$(call install-missing,$(WINDOWS_PACKAGES))

configure: deps
	cmake --preset $(PRESET) $(CMAKE_FLAGS)

build: configure
	cmake --build --preset $(PRESET) --parallel $(JOBS)

# The Linux suites, then (except for the sanitizer run) the Windows suites under Wine.
ifeq ($(PRESET),sanitize)
test: test-linux
else
test: test-linux test-windows
	@echo "Linux ($(PRESET)): $$(grep -E 'tests passed' $(BUILD_DIR)/ctest.log)"
	@echo "Windows ($(WINDOWS_PRESET), under Wine): $$(grep -E 'tests passed' $(WINDOWS_BUILD_DIR)/ctest.log)"
endif

test-linux: build
	@ctest --preset $(PRESET) | tee $(BUILD_DIR)/ctest.log; status=$${PIPESTATUS[0]}; \
	echo "Linux ($(PRESET)): $$(grep -E 'tests passed' $(BUILD_DIR)/ctest.log)"; exit $$status

build-windows: deps-windows
	cmake --preset $(WINDOWS_PRESET) $(CMAKE_FLAGS)
	cmake --build --preset $(WINDOWS_PRESET) --parallel $(JOBS)

# The HTTPS suite under Wine takes its certificates and its peer's TLS from the Linux debug
# build's tarven-tls-helper; without that build its cases fail, so say so first.
tls-helper:
	@if cmake --preset debug $(CMAKE_FLAGS) >/dev/null && \
	  cmake --build --preset debug --parallel $(JOBS) --target tarven-tls-helper >/dev/null; then \
	  echo "Linux tarven-tls-helper: build/debug/bin/tarven-tls-helper"; \
	else \
	  echo "No Linux build of tarven-tls-helper (make deps first): the HTTPS suite under Wine will fail."; \
	fi

# The Windows suites under Wine, on an X display of their own unless one is given.
test-windows: build-windows tls-helper
	@$(if $(DISPLAY),,xvfb-run -a -s "-screen 0 1024x768x24") \
	  bash scripts/test-windows.sh $(WINDOWS_PRESET) $(WINDOWS_BUILD_DIR)

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

package-windows: deps-windows
	@CMAKE_FLAGS="$(CMAKE_FLAGS)" bash packaging/windows/build-windows-package.sh

clean:
	rm -rf build
