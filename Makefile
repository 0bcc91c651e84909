# The two everyday commands: `make run` and `make test`.
JOBS ?= $(shell nproc)
CTEST_FLAGS ?= --output-on-failure -j$(JOBS)

.PHONY: all deps build build-asan run test test-dev test-user test-asan bench fuzz clean

all: build

deps:
	@scripts/install-deps

build: deps
	cmake --preset dev >/dev/null
	cmake --build --preset dev -j$(JOBS)

build-asan: deps
	cmake --preset asan >/dev/null
	cmake --build --preset asan -j$(JOBS)

# Starts the simulated module on port 1, then the program.
run: build
	scripts/run

# The sanitizer suite runs last, so the output closes with its summary.
test: test-dev test-user fuzz test-asan
test: FUZZ_SECONDS = 30

test-dev: build
	ctest --test-dir build $(CTEST_FLAGS)

# The end-to-end tests once more as an ordinary user: yourself, or nobody
# when run by root.
test-user: build
	scripts/test-as-user build

test-asan: build-asan
	ctest --test-dir build-asan $(CTEST_FLAGS)

# Builds the benchmarks in Release (build-release) and runs them, in under
# three minutes; BENCH_LONG=1 makes the long parts longer.
bench: deps
	cmake --preset release >/dev/null
	cmake --build --preset release -j$(JOBS) --target pondara-bench
	build-release/bench/pondara-bench

# Builds the libFuzzer targets with clang (build-fuzz) and runs each for
# FUZZ_SECONDS seconds (60; 30 within `make test`); a crash fails.
FUZZ_SECONDS ?= 60
fuzz: deps
	CC=clang CXX=clang++ cmake -S fuzz -B build-fuzz >/dev/null
	cmake --build build-fuzz -j$(JOBS)
	fuzz/run $(FUZZ_SECONDS)

clean:
	rm -rf build build-asan build-release build-fuzz
