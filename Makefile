# SPDX-License-Identifier: GPL-3.0-or-later
# Set-up, build, run and test. `make run` and `make test` install what is missing first.

BUILD_DIR ?= build
PRESET ?= default

# Debian packages the build, the tests and the benchmarks need.
PACKAGES := cmake ninja-build g++ pkg-config qt6-base-dev qt6-base-dev-tools \
            libssl-dev libcdio-dev libiso9660-dev libcdio-utils genisoimage cdrdao libisal-dev nasm \
            fonts-comic-neue fonts-dejavu-core xauth xvfb openbox xdotool x11-utils dbus at-spi2-core clang-format clang libclang-rt-14-dev \
            dpkg-dev desktop-file-utils appstream qt6-translations-l10n lintian \
            mingw-w64 wine64

.PHONY: all deps configure build run test sanitize-test fuzz package package-check icons format format-check bench screenshot clean windows windows-qt

FUZZ_SECONDS ?= 60

all: build

deps:
	@missing=$$(for p in $(PACKAGES); do \
	    dpkg-query -W -f='$${Status}\n' $$p 2>/dev/null | grep -q '^install ok installed$$' || echo $$p; \
	done); \
	if [ -n "$$missing" ]; then \
	    if [ "$$(id -u)" -ne 0 ]; then \
	        echo "Missing Debian packages. Install them as root with:"; \
	        echo "  apt-get update && apt-get install -y" $$missing; \
	        exit 1; \
	    fi; \
	    echo "Installing:" $$missing; \
	    apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq $$missing; \
	fi

# The tool tests run a second time against the Windows build's .exe files (make windows), under
# wine, when `make test` has built them.
configure: deps
	cmake --preset $(PRESET) -DVELMORA_WINDOWS_TOOLS=$(CURDIR)/build-windows

build: configure
	cmake --build --preset $(PRESET)

run: build
	./$(BUILD_DIR)/velmora_gui

# Every test: this system's, the tool tests again against the Windows build's .exe files under
# wine, and the Windows build's own tests.
test: build windows
	ctest --preset $(PRESET)
	ctest --preset windows

# 64-bit Windows, cross-built with mingw-w64 into build-windows/: the tools, and with a Qt for
# Windows in QT_MINGW (make windows-qt, or a copy of one unpacked) the window and its tests.
QT_MINGW ?= $(HOME)/.cache/velmora/qt6-mingw
ISAL_MINGW ?= $(HOME)/.cache/velmora/isal-mingw
windows: deps
	VELMORA_ISAL_MINGW=$(ISAL_MINGW) bash packaging/windows/build-isal.sh
	VELMORA_QT_MINGW=$(QT_MINGW) bash packaging/windows/build-qt.sh --if-quick
	if [ -f $(QT_MINGW)/lib/cmake/Qt6/Qt6Config.cmake ]; then \
	    cmake --preset windows -DVELMORA_ISAL_MINGW=$(ISAL_MINGW) -DVELMORA_WINDOW=ON -DVELMORA_QT_MINGW=$(QT_MINGW); \
	else \
	    cmake --preset windows -DVELMORA_ISAL_MINGW=$(ISAL_MINGW) -DVELMORA_WINDOW=OFF; \
	fi
	cmake --build --preset windows

# Qt for Windows from Debian's own source, into QT_MINGW (outside every build; made once).
windows-qt: deps
	VELMORA_QT_MINGW=$(QT_MINGW) bash packaging/windows/build-qt.sh

sanitize-test: deps
	cmake --preset sanitize
	cmake --build --preset sanitize
	ctest --preset sanitize

# Each fuzz target for FUZZ_SECONDS over its seed corpus (tests/fuzz/corpus); fails on a finding.
fuzz: deps
	cmake --preset fuzz
	cmake --build --preset fuzz
	bash tests/fuzz/run.sh $(FUZZ_SECONDS)

# The Debian package, in build/package/.
package: build
	cd $(BUILD_DIR) && cpack --config CPackConfig.cmake

# The package installed (unpacked into a scratch folder; installed for real by apt where CI runs
# as root), its tools run, its metadata validated.
package-check: package
	bash tests/package/check.sh $(BUILD_DIR)/package

# Every size of the icon, rendered from its drawing (needs rsvg-convert, from librsvg2-bin).
icons:
	for size in 16 32 48 64 128; do \
	    rsvg-convert -w $$size -h $$size app/icons/velmora-gui.svg -o app/icons/velmora-gui-$$size.png; \
	done

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

format-check:
	git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run --Werror

bench: build
	cmake --build --preset $(PRESET) --target bench

screenshot: build
	QT_QPA_PLATFORM=offscreen ./$(BUILD_DIR)/tests/window_screenshot docs/window.png

clean:
	rm -rf build build-sanitize build-fuzz build-windows
