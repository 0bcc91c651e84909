# The two everyday commands: `make run` and `make test`.
JOBS ?= $(shell nproc)
# ccache (when installed) keys on paths relative to the checkout, so that
# builds in another clone of the same tree reuse what was compiled here.
export CCACHE_BASEDIR := $(CURDIR)
CTEST_FLAGS ?= --output-on-failure -j$(JOBS)

.PHONY: all deps build build-asan run test test-dev test-user test-asan test-debian13 bench bench-unplug \
	bench-debian13 fuzz package package-check format format-check clean

all: build

# DEPS names the groups of scripts/install-deps to install (build, package,
# fuzz); all when empty.
DEPS ?=
deps:
	@scripts/install-deps $(DEPS)

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
test: format-check test-dev test-user package-check fuzz test-asan
test: FUZZ_SECONDS = 30

test-dev: build
	ctest --test-dir build $(CTEST_FLAGS)

# The end-to-end tests once more as an ordinary user: yourself, or nobody
# when run by root.
test-user: build
	scripts/test-as-user build

test-asan: build-asan
	ctest --test-dir build-asan $(CTEST_FLAGS)

# The suite, make package and the package's checks once more on Debian 13,
# in a root made with mmdebstrap and kept in DEBIAN13_CACHE; the package is
# left in build-debian13. Needs root.
export DEBIAN13_CACHE ?= /var/cache/pondara-debian13
test-debian13:
	scripts/test-debian13

# Builds the benchmarks in Release (build-release) and runs them, in about
# six minutes, then measures figure 6 once more on Debian 13 (make
# bench-debian13: half a minute with its root and compiler cache kept) when
# run by root on Debian 12.
# BENCH_LONG=1 makes the long parts longer; BENCH_ARGS go to pondara-bench
# (--window S, --exchanges N, --startups N, --wakeups S).
BENCH_ARGS ?=
bench: deps
	cmake --preset release -DPONDARA_BENCH=ON >/dev/null
	cmake --build --preset release -j$(JOBS) --target pondara-bench-all
	build-release/bench/pondara-bench $(BENCH_ARGS)
	@. /etc/os-release; \
	if [ "$${VERSION_ID:-}" != 12 ]; then \
	  echo "make bench: no Debian 13 run of figure 6 apart: this is $$PRETTY_NAME (row 6 above)"; \
	elif [ "$$(id -u)" -ne 0 ]; then \
	  echo "make bench: figure 6 on Debian 13 not measured: its root needs root (sudo make bench-debian13)"; \
	else \
	  scripts/test-debian13 --bench; \
	fi

# Figure 6 (CPU after unplugging) alone, on this machine.
bench-unplug: deps
	cmake --preset release -DPONDARA_BENCH=ON >/dev/null
	cmake --build --preset release -j$(JOBS) --target pondara-bench-unplug
	build-release/bench/pondara-bench --only unplug

# make bench-unplug in the Debian 13 root of make test-debian13. Needs root.
bench-debian13:
	scripts/test-debian13 --bench

# Builds the libFuzzer targets with clang (build-fuzz) and runs each for
# FUZZ_SECONDS seconds (60; 30 within `make test`); a crash fails.
FUZZ_SECONDS ?= 60
fuzz: deps
	CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DBUILD_TESTING=OFF -DPONDARA_FUZZ=ON >/dev/null
	cmake --build build-fuzz -j$(JOBS) --target fuzz_number_conversion fuzz_receive_path
	fuzz/run $(FUZZ_SECONDS)

# The house format (.clang-format) over every C++ file git tracks.
FORMAT_SOURCES = $(shell git ls-files '*.cpp' '*.h')
format: deps
	clang-format -i $(FORMAT_SOURCES)

format-check: deps
	clang-format --dry-run --Werror $(FORMAT_SOURCES)

# The Debian package, from a Release build in build-release:
# build-release/pondara_<version>_<arch>.deb.
package: deps
	cmake --preset release >/dev/null
	cmake --build --preset release -j$(JOBS) --target pondara pondara-sim pondara-dist
	rm -f build-release/pondara_*.deb
	cd build-release && cpack -G DEB

# Lints the package and its desktop entry, metainfo and manual pages, then
# runs what it installs, unpacked, under Xvfb.
package-check: package
	scripts/package-check build-release/pondara_*.deb

clean:
	rm -rf build build-asan build-release build-fuzz build-debian13
