# The two commands that set up a fresh Debian 12 machine:
#   make demo   builds and runs the headless tool against the virtual adapter
#   make test   builds and runs every test
BUILD       ?= build
SAN_BUILD   ?= build-sanitize
BENCH_BUILD ?= build-bench
TSAN_BUILD  ?= build-tsan
FUZZ_BUILD  ?= build-fuzz
WIN_BUILD   ?= build-windows
WIN32_BUILD ?= build-windows-i686
FUZZ_SECONDS ?= 60
FUZZ_SEED   ?=
JOBS        ?= $(shell nproc)
CMAKE_FLAGS ?=

.PHONY: all deps build test sanitize tsan fuzz bench demo screenshots deb hwtest install-udev clean \
        windows windows-test windows-zip

all: build

deps:
	@tools/install-deps.sh

$(BUILD)/CMakeCache.txt: | deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS)

build: deps $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j$(JOBS)

test: build
	cd $(BUILD) && ctest --output-on-failure -j$(JOBS) --timeout 300

sanitize: deps
	cmake -S . -B $(SAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DPARVANE_SANITIZE=ON $(CMAKE_FLAGS)
	cmake --build $(SAN_BUILD) -j$(JOBS)
	cd $(SAN_BUILD) && ASAN_OPTIONS=detect_leaks=0 UBSAN_OPTIONS=print_stacktrace=1 \
	  ctest --output-on-failure -j$(JOBS) --timeout 600 -LE nosanitize

# The tests under ThreadSanitizer; tools/tsan.supp names what is ignored
# inside the toolkit's own libraries, and why.
tsan: deps
	cmake -S . -B $(TSAN_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPARVANE_TSAN=ON $(CMAKE_FLAGS)
	cmake --build $(TSAN_BUILD) -j$(JOBS)
	cd $(TSAN_BUILD) && TSAN_OPTIONS="second_deadlock_stack=1 suppressions=$(CURDIR)/tools/tsan.supp" \
	  ctest --output-on-failure -j$(JOBS) --timeout 900

# Each libFuzzer target for FUZZ_SECONDS over its seed corpus (clang build).
fuzz: deps
	cmake -S . -B $(FUZZ_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPARVANE_FUZZ=ON \
	  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ $(CMAKE_FLAGS)
	cmake --build $(FUZZ_BUILD) -j$(JOBS) --target parvane_fuzzers
	FUZZ_SEED=$(FUZZ_SEED) tools/fuzz.sh $(FUZZ_BUILD) $(FUZZ_SECONDS)

bench: deps
	cmake -S . -B $(BENCH_BUILD) -DCMAKE_BUILD_TYPE=Release -DPARVANE_BENCH=ON $(CMAKE_FLAGS)
	cmake --build $(BENCH_BUILD) -j$(JOBS)
	@for b in $(BENCH_BUILD)/bin/bench_*; do [ -x "$$b" ] && "$$b" || exit 1; done

# Builds only the headless tool and what it loads at run time, not the tests.
demo: deps $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j$(JOBS) --target parvane-cli
	$(BUILD)/bin/parvane-cli learn --virtual-adapter=cn

# The Debian package, $(BUILD)/deb/parvane_<version>_amd64.deb, checked by lintian.
deb: deps $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j$(JOBS) --target parvane parvane-cli parvane_packaging_files
	cd $(BUILD) && cpack -G DEB
	lintian --fail-on error $(BUILD)/deb/parvane_*_amd64.deb

screenshots: build
	tools/screenshots.sh $(BUILD)

# The programs unchanged in a VM with a real kernel, against the twin plugged
# into a virtual USB port (xhci, usbhid, snd-usb-audio): tests/hw/*.sh run
# inside as root.
# The package scenario installs $(BUILD)/deb's package: it is built first when
# missing or older than the programs, libraries or packaging files it holds.
hwtest: build
	@deb=$$(ls -t $(BUILD)/deb/parvane_*_amd64.deb 2>/dev/null | head -n 1); \
	if [ -z "$$deb" ] || [ -n "$$(find $(BUILD)/bin -maxdepth 1 \( -name parvane -o -name parvane-cli -o -name '*.so' \) \
	     -newer "$$deb" | head -n 1)$$(find packaging -newer "$$deb" | head -n 1)" ]; then \
	  $(MAKE) deb; \
	fi
	tools/hwtest.sh $(BUILD)

# The udev rule for the adapter's HID node, for the vendor id in the settings
# (or VENDOR_ID=0xNNNN); run as root.
install-udev:
	tools/install-udev.sh

# The Windows build, cross-compiled with mingw-w64: $(WIN_BUILD)/bin holds the
# programs and libraries, $(WIN32_BUILD)/bin the 32-bit line-device library.
# The libraries Debian ships no mingw build of are built from their Debian
# source packages first (tools/windows-deps.sh), once.
windows: deps
	tools/windows-deps.sh $(CURDIR)/cmake/mingw-x86_64.cmake $(WIN_BUILD)/deps $(WIN_BUILD)/deps/prefix $(JOBS)
	cmake -S . -B $(WIN_BUILD) -DCMAKE_TOOLCHAIN_FILE=$(CURDIR)/cmake/mingw-x86_64.cmake \
	  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPARVANE_WINDOWS_DEPS=$(CURDIR)/$(WIN_BUILD)/deps/prefix $(CMAKE_FLAGS)
	cmake --build $(WIN_BUILD) -j$(JOBS)
	cmake -S . -B $(WIN32_BUILD) -DCMAKE_TOOLCHAIN_FILE=$(CURDIR)/cmake/mingw-i686.cmake \
	  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPARVANE_WINDOWS_FXO_ONLY=ON $(CMAKE_FLAGS)
	cmake --build $(WIN32_BUILD) -j$(JOBS)

# The Windows build's tests under wine64 (tools/windows-test.sh).
windows-test: windows
	tools/windows-test.sh $(WIN_BUILD) $(WIN32_BUILD) $(JOBS)

# build-windows/bin as a zip a Windows user unpacks and runs (the programs,
# the libraries, Lang/, Help/, null.wav; no tests), checked by running it
# unpacked in a wine prefix of its own.
windows-zip: windows
	tools/windows-zip.sh $(WIN_BUILD)

clean:
	rm -rf $(BUILD) $(SAN_BUILD) $(BENCH_BUILD) $(TSAN_BUILD) $(FUZZ_BUILD) $(WIN_BUILD) $(WIN32_BUILD)
