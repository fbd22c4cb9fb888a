# Front door. `make run` and `make test` work on a fresh Debian 12 machine: they install what is
# missing first.
SHELL := /bin/bash
BUILD ?= build
ASAN_BUILD ?= build-asan
JOBS ?= $(shell nproc)
CTEST_FLAGS ?= --output-on-failure --timeout 300 -j $(JOBS)

# Debian packages the build and the tests need.
PACKAGES := build-essential cmake ninja-build pkg-config \
  qt6-base-dev qt6-multimedia-dev libgl-dev \
  libgtest-dev libgmock-dev libbenchmark-dev clang clang-format clang-tidy \
  pulseaudio pulseaudio-utils xvfb xauth xdotool x11-utils imagemagick fonts-ipafont-gothic \
  g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 wine64 wine libx11-dev locales
SUDO := $(shell [ "$$(id -u)" = 0 ] || echo sudo)

.PHONY: all build deps run test check asan bench format tidy windows package clean

all: build

deps:
	@missing=$$(for p in $(PACKAGES); do \
	    dpkg-query -W -f='$${Status}\n' $$p 2>/dev/null | grep -q '^install ok installed' || echo $$p; \
	  done); \
	if [ -n "$$missing" ]; then \
	  echo "Installing:" $$missing; \
	  $(SUDO) apt-get update -qq && \
	  DEBIAN_FRONTEND=noninteractive $(SUDO) apt-get install -y -qq --no-install-recommends $$missing; \
	fi

$(BUILD)/build.ninja:
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo

build: $(BUILD)/build.ninja
	cmake --build $(BUILD) -j $(JOBS)

run: deps build
	./$(BUILD)/tavrene

# Every test: the Release build, then the sanitizer build.
test: deps build
	cd $(BUILD) && ctest $(CTEST_FLAGS)
	$(MAKE) asan

check: build
	cd $(BUILD) && ctest $(CTEST_FLAGS)

$(ASAN_BUILD)/build.ninja:
	cmake -S . -B $(ASAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTAVRENE_SANITIZE=ON \
	  -DTAVRENE_BENCHMARKS=OFF

asan: $(ASAN_BUILD)/build.ninja
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	cd $(ASAN_BUILD) && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
	  LSAN_OPTIONS=suppressions=$(CURDIR)/tests/lsan.supp:print_suppressions=0 \
	  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  ctest $(CTEST_FLAGS) -LE no-sanitizer

bench: build
	./$(BUILD)/bench/bench_dsp --benchmark_repetitions=5 --benchmark_report_aggregates_only=true

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h')

tidy: build
	clang-tidy -p $(BUILD) --quiet $$(git ls-files 'dsp/*.cpp' 'panes/*.cpp' 'audio/*.cpp' 'app/*.cpp' 'platform/*.cpp' 'tools/*.cpp')

# The same application for Windows, cross-compiled with MinGW-w64: build-windows/tavrene.exe.
WINDOWS_BUILD ?= build-windows
windows: deps
	cmake -S . -B $(WINDOWS_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Release \
	  -DCMAKE_TOOLCHAIN_FILE=$(CURDIR)/cmake/mingw-w64.cmake
	cmake --build $(WINDOWS_BUILD) -j $(JOBS) --target tavrene

# The Debian package of the Linux program, in $(BUILD).
package: deps build
	cd $(BUILD) && cpack -G DEB

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) build-windows
