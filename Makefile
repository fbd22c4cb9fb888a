# SPDX-License-Identifier: GPL-3.0-or-later
# Front door. `make run` and `make test` work on a fresh Debian 12 machine: they install what is
# missing first.
SHELL := /bin/bash
BUILD ?= build
ASAN_BUILD ?= build-asan
JOBS ?= $(shell nproc)
CTEST_FLAGS ?= --output-on-failure --timeout 300 -j $(JOBS)

# Debian packages. `make run` installs only what building and running the program needs: the
# compiler and build tools, Qt's widgets, libpulse (the sound server's client library), the
# resource compiler with the Windows headers it reads, and the dialog's font. `make test` adds
# what the tests need: the test and benchmark libraries, clang's tools and sanitizer runtimes,
# private PulseAudio and PipeWire servers, an X server and its tools, the MinGW compilers and
# Wine (with its fonts) for the Windows build, and the package checkers (lintian, the desktop
# entry and AppStream validators, man, and librsvg to draw the SVG icon for comparison), and
# Hamlib's rigctld, whose dummy rig the meter's rig tests correct, and NSIS, zip and xmllint for
# the Windows release.
RUN_PACKAGES := build-essential cmake ninja-build pkg-config qt6-base-dev qt6-qpa-plugins \
  libgl-dev libpulse-dev binutils-mingw-w64-x86-64 mingw-w64-common fonts-ipafont-gothic \
  libkissfft-dev libsndfile1-dev libsamplerate0-dev
TEST_PACKAGES := libgtest-dev libgmock-dev libbenchmark-dev clang clang-format clang-tidy \
  libclang-rt-14-dev pulseaudio pulseaudio-utils pipewire pipewire-bin pipewire-pulse \
  wireplumber xvfb xauth xdotool x11-utils imagemagick libx11-dev locales \
  g++-mingw-w64-x86-64-posix wine64 wine fonts-wine lintian desktop-file-utils appstream man-db \
  librsvg2-bin libhamlib-utils nsis zip unzip libxml2-utils codec2-examples
SUDO := $(shell [ "$$(id -u)" = 0 ] || echo sudo)

# $(call install,PACKAGES): installs those not installed yet.
define install
	@missing=$$(for p in $(1); do \
	    dpkg-query -W -f='$${Status}\n' $$p 2>/dev/null | grep -q '^install ok installed' || echo $$p; \
	  done); \
	if [ -n "$$missing" ]; then \
	  echo "Installing:" $$missing; \
	  $(SUDO) apt-get update -qq && \
	  DEBIAN_FRONTEND=noninteractive $(SUDO) apt-get install -y -qq $$missing; \
	fi
endef

.PHONY: all build configure deps test-deps run test check asan tsan other-build soak perf bench \
  format tidy windows windows-package package clean

all: build

deps:
	$(call install,$(RUN_PACKAGES))

test-deps:
	$(call install,$(RUN_PACKAGES) $(TEST_PACKAGES))

# Configured afresh each time (a second when nothing changed), so that the tests, the benchmarks
# and their tools are built as soon as their packages are there. Debug information as line tables
# (-g1): enough for a backtrace, a profile or a sanitizer's report, and a third less to compile.
LINE_TABLES := -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -g1 -DNDEBUG"
configure:
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo $(LINE_TABLES) -DTAVRENE_WERROR=ON

build: configure
	cmake --build $(BUILD) -j $(JOBS)

run: deps configure
	cmake --build $(BUILD) -j $(JOBS) --target tavrene tavrene-demo tavrene-meter
	./$(BUILD)/tavrene

# Every test: the Release build, then the ASan+UBSan build (which also runs the fuzzers for a
# bounded time), then ThreadSanitizer over everything that has threads, then one other build.
test: test-deps build
	cd $(BUILD) && ctest $(CTEST_FLAGS)
	$(MAKE) asan
	$(MAKE) tsan
	$(MAKE) other-build

check: build
	cd $(BUILD) && ctest $(CTEST_FLAGS)

$(ASAN_BUILD)/build.ninja:
	cmake -S . -B $(ASAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTAVRENE_WERROR=ON -DTAVRENE_SANITIZE=ON \
	  -DTAVRENE_BENCHMARKS=OFF -DTAVRENE_FUZZ=ON

asan: $(ASAN_BUILD)/build.ninja
	cmake --build $(ASAN_BUILD) -j $(JOBS) --target in_process_tests
	cd $(ASAN_BUILD) && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
	  LSAN_OPTIONS=suppressions=$(CURDIR)/tests/lsan.supp:print_suppressions=0 \
	  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  ctest $(CTEST_FLAGS) -LE no-sanitizer

# ThreadSanitizer over the application tests in process and the host-audio tests, on a private
# PulseAudio loopback: the host's audio threads are the only threads there are.
TSAN_BUILD ?= build-tsan
$(TSAN_BUILD)/build.ninja:
	cmake -S . -B $(TSAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo $(LINE_TABLES) -DTAVRENE_WERROR=ON \
	  -DTAVRENE_BENCHMARKS=OFF -DCMAKE_CXX_FLAGS=-fsanitize=thread -DCMAKE_EXE_LINKER_FLAGS=-fsanitize=thread

tsan: $(TSAN_BUILD)/build.ninja
	cmake --build $(TSAN_BUILD) -j $(JOBS) --target test_app test_meter test_faults
	tests/faults/run_tsan.sh $(TSAN_BUILD) $(CURDIR)/tests/faults/tsan.supp

# One other build each run, made as a packager makes it (Debian's flags from dpkg-buildflags, no
# warnings as errors): the unit tests of the signal core, whose results are specified to the last
# bit, and of the rig link's parser, built and run. (With the platform layer's tests as well it
# took twice as long; each combination was built and tested whole once, docs/reliability.md.) Which one turns with the day, through GCC and clang in the other build types and
# clang in the main one, the cheapest to build first (docs/reliability.md); `make other-build
# OTHER=clang-Release` makes a given one.
OTHER_BUILDS := clang-Release clang-Debug gcc-MinSizeRel clang-RelWithDebInfo clang-MinSizeRel \
  gcc-Debug gcc-Release
OTHER ?= $(word $(shell expr $$(date -u +%j) % 7 + 1),$(OTHER_BUILDS))
other-build:
	CXXFLAGS="$$(dpkg-buildflags --get CPPFLAGS) $$(dpkg-buildflags --get CXXFLAGS)" \
	  LDFLAGS="$$(dpkg-buildflags --get LDFLAGS)" \
	  cmake -S . -B build-$(OTHER) -G Ninja -DCMAKE_BUILD_TYPE=$(word 2,$(subst -, ,$(OTHER))) \
	  -DCMAKE_CXX_COMPILER=$(if $(filter clang-%,$(OTHER)),clang++,g++) -DTAVRENE_BENCHMARKS=OFF
	cmake --build build-$(OTHER) -j $(JOBS) --target test_dsp test_rig
	build-$(OTHER)/tests/test_dsp --gtest_brief=1
	build-$(OTHER)/tests/test_rig --gtest_brief=1

# The real program toggled every half second for SOAK_SECONDS with capture running; the result
# goes into docs/performance.md.
SOAK_SECONDS ?= 600
soak: test-deps build
	tests/soak/soak_real.sh ./$(BUILD)/tavrene $(BUILD) $(BUILD)/soak $(SOAK_SECONDS) 1 \
	  $(BUILD)/soak-result.txt
	{ echo "Last run, $$(date -u +'%Y-%m-%d %H:%M UTC'): $$(cat $(BUILD)/soak-result.txt)."; } | \
	  bench/put_section.sh soak docs/performance.md

# The program's own figures, medians of PERF_RUNS runs, into docs/performance.md.
PERF_RUNS ?= 5
perf: test-deps build
	bench/perf.sh $(BUILD) docs/performance.md $(PERF_RUNS)

bench: build
	./$(BUILD)/bench/bench_dsp --benchmark_repetitions=5 --benchmark_report_aggregates_only=true

# The df estimator against the simulated link: its table into docs/accuracy.md; the voice
# estimator on the codec2 speech (codec2-examples, a test package) into docs/voice-accuracy.md.
# make fails when a row fails or a goal is missed, after writing both tables.
.PHONY: accuracy
accuracy: configure
	$(call install,codec2-examples)
	cmake --build $(BUILD) -j $(JOBS) --target accuracy voice_accuracy
	status=0; ./$(BUILD)/bench/accuracy >$(BUILD)/accuracy.md || status=$$?; \
	  { echo "Last run, $$(date -u +'%Y-%m-%d %H:%M UTC'):"; echo; cat $(BUILD)/accuracy.md; } | \
	  bench/put_section.sh accuracy docs/accuracy.md || status=1; \
	  ./$(BUILD)/bench/voice_accuracy >$(BUILD)/voice-accuracy.md || status=$$?; \
	  { echo "Last run, $$(date -u +'%Y-%m-%d %H:%M UTC'):"; echo; cat $(BUILD)/voice-accuracy.md; } | \
	  bench/put_section.sh voice-accuracy docs/voice-accuracy.md || status=1; \
	  exit $$status

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h')

tidy: build
	clang-tidy -p $(BUILD) --quiet $$(git ls-files 'dsp/*.cpp' 'panes/*.cpp' 'audio/*.cpp' 'app/*.cpp' 'platform/*.cpp' 'sim/*.cpp' \
	  'demo/*.cpp' 'meter/*.cpp' 'recording/*.cpp' 'rig/*.cpp' 'tools/*.cpp' 'bench/*.cpp')

# The same programs for Windows, cross-compiled with MinGW-w64: build-windows/tavrene.exe and
# build-windows/tavrene-meter.exe.
WINDOWS_BUILD ?= build-windows
windows: test-deps
	cmake -S . -B $(WINDOWS_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Release -DTAVRENE_WERROR=ON \
	  -DCMAKE_TOOLCHAIN_FILE=$(CURDIR)/cmake/mingw-w64.cmake
	cmake --build $(WINDOWS_BUILD) -j $(JOBS) --target tavrene tavrene-meter

# The Windows release in $(WINDOWS_BUILD): tavrene-VERSION-setup-x64.exe (NSIS) and
# tavrene-VERSION-portable-x64.zip. Its tools are test packages: the tests make and check it.
windows-package: windows
	cmake --build $(WINDOWS_BUILD) -j $(JOBS) --target windows_package

# The Debian package of the Linux program, in $(BUILD).
package: deps build
	cd $(BUILD) && cpack -G DEB

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) build-windows $(addprefix build-,$(OTHER_BUILDS))
