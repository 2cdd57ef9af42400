# The two commands a user needs: `make run` and `make test`.
.PHONY: all deps configure build test run bench clean check-sanitize fuzz fuzz-smoke soak install

all: build

deps:
	@scripts/install-deps.sh

configure: deps
	@cmake --preset release >/dev/null

build: configure
	@cmake --build --preset release

test: build
	@ctest --preset release

run: build
	@if [ -x build/app/dahlo ]; then build/app/dahlo; else echo "the window is not built yet; see README for dahlo-decode"; fi

# The programs, the user guide, the desktop entry, the icon and the manual page; PREFIX defaults
# to CMake's /usr/local.
install: build
	@cmake --install build $(if $(PREFIX),--prefix $(PREFIX))

bench: build
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
check-sanitize: deps
	@cmake --preset sanitize >/dev/null
	@cmake --build --preset sanitize
	@$(SANITIZE_ENV) ctest --preset sanitize -E '^capture_(live|live_overrun|no_server)$$'

# libFuzzer (clang): `make fuzz` runs every target 10 minutes, `make fuzz-smoke` 20 seconds.
FUZZ_SECONDS ?= 600
fuzz: deps
	@scripts/fuzz.sh $(FUZZ_SECONDS)

fuzz-smoke: deps
	@scripts/fuzz.sh 20

# 24 hours of hostile audio through the receiver loop, then one hour under the sanitizers.
soak: deps
	@scripts/soak.sh 24 1

clean:
	rm -rf build build-debug build-sanitize build-fuzz

# dahlo-decode on a bundled recording, and its character error rate on synthesized ones.
.PHONY: demo accuracy
demo: build
	@build/tools/dahlo-decode samples/qso-28wpm-1200hz-noisy.ogg

accuracy: build
	@scripts/accuracy.sh
