# The two commands a user needs: `make run` and `make test`.
.PHONY: all deps deps-package deps-test configure configure-test build test run bench clean \
	check-sanitize fuzz fuzz-smoke soak install package

all: build

# scripts/install-deps.sh installs what is missing: `run` what building and running the programs
# need, `package` adds the .deb tools, `test` everything the tests, benchmarks and fuzzing need.
deps:
	@scripts/install-deps.sh run

deps-package:
	@scripts/install-deps.sh package

deps-test:
	@scripts/install-deps.sh test

# A first build leaves the tests and benchmarks out, so that `make run` needs no test packages;
# `make test` turns them on in the same build directory and later runs keep them.
configure: deps
	@cmake --preset release $(if $(wildcard build/CMakeCache.txt),,-DDAHLO_BUILD_TESTS=OFF -DDAHLO_BUILD_BENCH=OFF) >/dev/null

configure-test: deps-test
	@cmake --preset release -DDAHLO_BUILD_TESTS=ON -DDAHLO_BUILD_BENCH=ON >/dev/null

build: configure
	@cmake --build --preset release

test: configure-test
	@cmake --build --preset release
	@ctest --preset release

run: build
	@if [ -x build/app/dahlo ]; then build/app/dahlo; else echo "the window is not built yet; see README for dahlo-decode"; fi

# The programs, the user guide, the manual pages, the desktop entry, the icon and the AppStream
# metadata; PREFIX defaults to CMake's /usr/local.
install: build
	@cmake --install build $(if $(PREFIX),--prefix $(PREFIX))

# The Debian package, from a build of its own (build-package/, prefix /usr, no tests):
# build-package/dahlo_VERSION_ARCH.deb. MAINTAINER="Name <address>" sets its Maintainer field.
package: deps-package
	@cmake --preset package $(if $(MAINTAINER),"-DDAHLO_PACKAGE_MAINTAINER=$(MAINTAINER)") >/dev/null
	@cmake --build --preset package
	@cpack --preset package

bench: configure-test
	@cmake --build --preset release
	@build/bench/dahlo_bench --benchmark_counters_tabular=true

# ASan + UBSan over the whole test suite; UBSan stops at the first report, leaks in third-party
# libraries only are suppressed (scripts/lsan-suppressions.txt). The three live PortAudio tests
# are left to `make test`: ALSA's pulse plugin, loaded and unloaded by PortAudio, leaves leaks
# that no suppression can name (their frames belong to no module any more). The live window and
# dahlo-decode --live tests, which use the sound server's own API, run here too.
# ASan's strict_string_checks stays off: it misreads a legal strndup of an unterminated buffer
# in libxkbcommon-x11, which the live window test reaches through Qt's X11 platform.
SANITIZE_ENV = UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
	ASAN_OPTIONS=detect_leaks=1 \
	LSAN_OPTIONS=suppressions=$(CURDIR)/scripts/lsan-suppressions.txt:print_suppressions=0
check-sanitize: deps-test
	@cmake --preset sanitize >/dev/null
	@cmake --build --preset sanitize
	@$(SANITIZE_ENV) ctest --preset sanitize -E '^capture_(live|live_overrun|no_server)$$'

# libFuzzer (clang): `make fuzz` runs every target 10 minutes, `make fuzz-smoke` 20 seconds.
FUZZ_SECONDS ?= 600
fuzz: deps-test
	@scripts/fuzz.sh $(FUZZ_SECONDS)

fuzz-smoke: deps-test
	@scripts/fuzz.sh 20

# 24 hours of hostile audio through the receiver loop, then one hour under the sanitizers.
soak: configure-test
	@scripts/soak.sh 24 1

clean:
	rm -rf build build-debug build-sanitize build-fuzz build-package

# dahlo-decode on a bundled recording, and its character error rate on synthesized ones.
.PHONY: demo accuracy
demo: build
	@build/cli/dahlo-decode samples/qso-28wpm-1200hz-noisy.ogg

accuracy: configure-test
	@scripts/accuracy.sh
