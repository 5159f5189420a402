# Tapeloom: the README's two commands are `make demo` and `make test`. Each target installs the
# Debian packages it needs first (scripts/install-deps.sh; apt-get as root).
BUILD ?= build
JOBS ?= $(shell nproc)
# Every build made here treats warnings as errors; a build configured by hand does not.
CMAKE_CONFIGURE = cmake -S . -G Ninja -Wno-dev -DTAPELOOM_WERROR=ON
CTEST = ctest --output-on-failure -j$(JOBS)

.PHONY: all deps deps-armhf build check test test-native test-sanitize test-release test-armhf test-deb deb demo bench soak soak-latency soak-stalls mutation install format clean

all: build

deps:
	@scripts/install-deps.sh native

deps-armhf:
	@scripts/install-deps.sh native armhf

build: deps
	$(CMAKE_CONFIGURE) -B $(BUILD)/native -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build $(BUILD)/native

# The whole suite four times: native, under AddressSanitizer and UndefinedBehaviorSanitizer,
# as a Release build, and cross-built for 32-bit ARM running under qemu. Any failure fails the
# target.
test: check test-native test-sanitize test-release test-armhf test-deb

# The structure the code keeps: includes run from higher layers to lower ones only
# (docs/architecture.md), every source file is formatted as `make format` leaves it, and the
# suite is at most 0.35 of the code (docs/testing.md).
check: deps
	scripts/check-layers.sh
	scripts/test-size.sh --check
	clang-format --dry-run -Werror $$(git ls-files '*.cpp' '*.h')
	@out=$$(groff -man -ww -z docs/tapeloom.1 2>&1); [ -z "$$out" ] || { echo "$$out"; exit 1; }

test-native: build
	cd $(BUILD)/native && $(CTEST)

test-sanitize: deps
	$(CMAKE_CONFIGURE) -B $(BUILD)/sanitize -DCMAKE_BUILD_TYPE=Debug -DTAPELOOM_SANITIZE=ON
	cmake --build $(BUILD)/sanitize
	cd $(BUILD)/sanitize && ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 UBSAN_OPTIONS=print_stacktrace=1 $(CTEST)

# A packager's first build: Release (-O3), whose optimiser warns where the others do not.
test-release: deps
	$(CMAKE_CONFIGURE) -B $(BUILD)/release -DCMAKE_BUILD_TYPE=Release
	cmake --build $(BUILD)/release
	cd $(BUILD)/release && $(CTEST)

test-armhf: deps-armhf
	$(CMAKE_CONFIGURE) -B $(BUILD)/armhf -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DCMAKE_TOOLCHAIN_FILE=$(CURDIR)/cmake/armhf-toolchain.cmake
	cmake --build $(BUILD)/armhf
	cd $(BUILD)/armhf && $(CTEST)

# Debian packages for amd64 and, through the cross toolchain, armhf: $(BUILD)/deb-*/tapeloom_*.deb.
DEB_CONFIGURE = $(CMAKE_CONFIGURE) -DCMAKE_BUILD_TYPE=Release -DTAPELOOM_TESTS=OFF -DTAPELOOM_PACKAGE=ON \
  -DCMAKE_INSTALL_PREFIX=/usr
deb: deps-armhf
	@scripts/install-deps.sh package
	$(DEB_CONFIGURE) -B $(BUILD)/deb-amd64
	cmake --build $(BUILD)/deb-amd64
	cd $(BUILD)/deb-amd64 && cpack
	$(DEB_CONFIGURE) -B $(BUILD)/deb-armhf -DCMAKE_TOOLCHAIN_FILE=$(CURDIR)/cmake/armhf-toolchain.cmake
	cmake --build $(BUILD)/deb-armhf
	cd $(BUILD)/deb-armhf && cpack

# Both packages as a user meets them: lintian finds no error, and the program unpacked from
# each plays and records on the simulated card (the armhf one under qemu).
test-deb: deb
	scripts/check-deb.sh $(BUILD)/deb-amd64/tapeloom_*_amd64.deb
	scripts/check-deb.sh $(BUILD)/deb-armhf/tapeloom_*_armhf.deb

# Only what the demo needs: the build tools, the ALSA headers and sox; the program alone is
# built (no tests), so the first prompt comes in seconds.
demo:
	@scripts/install-deps.sh demo
	$(CMAKE_CONFIGURE) -B $(BUILD)/demo -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTAPELOOM_TESTS=OFF
	cmake --build $(BUILD)/demo --target tapeloom
	@scripts/demo.sh $(BUILD)/demo/tapeloom

bench: deps
	$(CMAKE_CONFIGURE) -B $(BUILD)/bench -DCMAKE_BUILD_TYPE=Release -DTAPELOOM_TESTS=OFF -DTAPELOOM_BENCH=ON
	cmake --build $(BUILD)/bench
	$(BUILD)/bench/bench/tapeloom_bench
	bench/export_bench.sh $(BUILD)/bench/tapeloom
	bench/run_bench.sh $(BUILD)/bench/tapeloom
	bench/file_ops_bench.sh $(BUILD)/bench/tapeloom

# The paced card (opt-in, about 70 s): a recording on a JACK server's dummy backend, in real
# time with a busy loop on the other core; prints the xruns and how long the run took.
soak: deps
	@scripts/install-deps.sh soak
	$(CMAKE_CONFIGURE) -B $(BUILD)/bench -DCMAKE_BUILD_TYPE=Release -DTAPELOOM_TESTS=OFF -DTAPELOOM_BENCH=ON
	cmake --build $(BUILD)/bench --target tapeloom
	bench/soak.sh $(BUILD)/bench/tapeloom

# Latency calibration on the paced card (opt-in, about 20 s): "cal" with output 1 looped to
# input 1 inside the JACK server, then takes that must hold a played track on their exact frame.
soak-latency: deps
	@scripts/install-deps.sh soak
	$(CMAKE_CONFIGURE) -B $(BUILD)/bench -DCMAKE_BUILD_TYPE=Release -DTAPELOOM_TESTS=OFF -DTAPELOOM_BENCH=ON
	cmake --build $(BUILD)/bench --target tapeloom
	bench/soak_latency.sh $(BUILD)/bench/tapeloom

# Slow storage on the paced card (opt-in, 5 to 10 minutes): takes recorded while a preload
# library stalls or throttles the wave files' reads and writes, and while the device loop is
# held still; each take is checked frame for frame against the looped track and a live counter.
soak-stalls: deps
	@scripts/install-deps.sh soak
	$(CMAKE_CONFIGURE) -B $(BUILD)/bench -DCMAKE_BUILD_TYPE=Release -DTAPELOOM_TESTS=OFF -DTAPELOOM_BENCH=ON
	cmake --build $(BUILD)/bench --target tapeloom
	bench/soak_stalls.sh $(BUILD)/bench/tapeloom

# The program, its manual page and the documentation under $(DESTDIR)$(PREFIX).
PREFIX ?= /usr/local
install:
	@scripts/install-deps.sh demo
	$(CMAKE_CONFIGURE) -B $(BUILD)/install -DCMAKE_BUILD_TYPE=Release -DTAPELOOM_TESTS=OFF -DCMAKE_INSTALL_PREFIX=$(PREFIX)
	cmake --build $(BUILD)/install --target tapeloom
	DESTDIR=$(DESTDIR) cmake --install $(BUILD)/install

# What the suite catches: a seeded sample of small faults planted in src/, each built and run
# against the native suite (scripts/mutation.py, docs/testing.md). Long: about a minute a fault.
# MUTATION_ARGS passes options, for example MUTATION_ARGS="--count 100 --resume".
mutation: deps
	@scripts/install-deps.sh mutation
	scripts/mutation.py $(MUTATION_ARGS)

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h')

clean:
	rm -rf $(BUILD)

# Fuzzing with libFuzzer under AddressSanitizer and UndefinedBehaviorSanitizer (clang): each
# target of fuzz/ runs FUZZ_SECONDS on a copy of its corpus in $(BUILD)/fuzz/corpus, findings
# go to $(BUILD)/fuzz/findings. Not part of `make test`, which replays the committed corpus.
FUZZ_SECONDS ?= 600
.PHONY: fuzz
fuzz:
	@scripts/install-deps.sh native fuzz
	CC=clang-14 CXX=clang++-14 $(CMAKE_CONFIGURE) -B $(BUILD)/fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DTAPELOOM_FUZZ=ON -DTAPELOOM_TESTS=OFF
	cmake --build $(BUILD)/fuzz
	fuzz/run_fuzz.sh $(CURDIR)/$(BUILD)/fuzz $(FUZZ_SECONDS)
