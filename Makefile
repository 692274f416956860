# Set-up and everyday commands; see README.md.
PRESET ?= default
BUILD_DIR := build/$(PRESET)
# CI builds with warnings as errors.
WERROR ?= $(if $(CI),ON,OFF)
# Keep the two cores busy without starving the tests that measure time-outs.
JOBS ?= $(shell nproc)

.PHONY: all deps configure build test test-sanitizers clean

all: build

deps:
	@scripts/install-deps.sh

configure: deps
	cmake --preset $(PRESET) -DTERVIX_WERROR=$(WERROR)

build: configure
	cmake --build --preset $(PRESET) -j $(JOBS)

test: build
	ctest --preset $(PRESET) -j $(JOBS)

# Every test under AddressSanitizer + UBSan, then the threaded ones (link layer, board, desktop
# program, line server, production line with its station) under ThreadSanitizer.
test-sanitizers:
	$(MAKE) test PRESET=asan
	$(MAKE) test PRESET=tsan

clean:
	rm -rf build dist

.PHONY: windows windows-installer windows-screenshots

# dist/tervix.exe and dist/tervix-flash.exe: the desktop program and the command-line tool for
# 64-bit Windows, linked statically so that they need no DLL beside them.
windows: deps
	cmake --preset windows -DTERVIX_WERROR=$(WERROR)
	cmake --build --preset windows -j $(JOBS)
	mkdir -p dist
	cp build/windows/bin/tervix.exe build/windows/bin/tervix-flash.exe dist/

# dist/tervix-setup-VERSION.exe (NSIS) and dist/tervix-VERSION-windows.zip, both programs in each.
windows-installer: windows
	cd build/windows && cpack
	cp build/windows/tervix-setup-*.exe build/windows/tervix-*-windows.zip dist/

# docs/screenshots/windows-*.png: one job of tervix.exe under Wine on a virtual display.
windows-screenshots: build windows
	scripts/windows-screenshots.sh $(BUILD_DIR)

.PHONY: demo bench

# The README's first command: flashes the bundled example onto the simulated board and checks it.
demo: build
	scripts/demo.sh $(BUILD_DIR)/bin

# Flashing time against the paced simulated board, then the line server under load; never part
# of make test.
bench: build
	scripts/bench.sh $(BUILD_DIR)/bin
	scripts/bench-line.sh $(BUILD_DIR)/bin

.PHONY: fuzz

# Long fuzzing runs with clang's libFuzzer, FUZZ_SECONDS (600) per target; see scripts/fuzz.sh.
fuzz: deps
	scripts/fuzz.sh

.PHONY: run screenshots

# The desktop program against a simulated board linked as COM3 (needs a display).
run: build
	scripts/run-desktop.sh $(BUILD_DIR)/bin

# docs/screenshots/*.png: one job against the simulated board on a virtual display (Xvfb).
screenshots: build
	scripts/screenshots.sh $(BUILD_DIR)/bin

.PHONY: package

# The Debian package build/$(PRESET)/tervix_VERSION_ARCH.deb: programs, manual pages, desktop
# entry, icon and bash completion.
package: build
	cd $(BUILD_DIR) && cpack
