# The two commands a user needs: `make run` and `make test`.
.PHONY: all deps configure build test run bench clean check-sanitize

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

bench: build
	@build/bench/dahlo_bench --benchmark_counters_tabular=true

check-sanitize: deps
	@cmake --preset sanitize >/dev/null
	@cmake --build --preset sanitize
	@ctest --preset sanitize

clean:
	rm -rf build build-debug build-sanitize

# dahlo-decode on a bundled recording, and its character error rate on synthesized ones.
.PHONY: demo accuracy
demo: build
	@build/tools/dahlo-decode samples/qso-28wpm-1200hz-noisy.ogg

accuracy: build
	@scripts/accuracy.sh
