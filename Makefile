# Thin wrapper around CMake + Ninja. `make demo` and `make test` do all the set-up on a fresh machine.
BUILD ?= build
CMAKE_FLAGS ?= -DCMAKE_BUILD_TYPE=Release
JOBS ?= $(shell nproc 2>/dev/null || echo 2)

.PHONY: all deps build test demo bench clean test-sanitize fuzz ct-check timing-check cross

all: build

deps:
	@scripts/ensure-deps

$(BUILD)/build.ninja: | deps
	cmake -S . -B $(BUILD) -G Ninja $(CMAKE_FLAGS)

build: deps $(BUILD)/build.ninja
	cmake --build $(BUILD) -j $(JOBS)

test: build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

# Only the tool and the libraries it links.
demo: deps $(BUILD)/build.ninja
	cmake --build $(BUILD) -j $(JOBS) --target qrsa
	$(BUILD)/cli/qrsa demo

# Speed against OpenSSL and GMP; ends with `RATIO <name> <ours/peer>` lines (below 1: ours is faster),
# each followed by `SPREAD <name> <p10> <p90>` over its rounds.
bench: build
	$(BUILD)/bench/qarvex_bench

# Hardening: sanitizers (ASan+UBSan suite, ThreadSanitizer thread tests), fuzzing (FUZZ_SECONDS per
# target), the constant-time check under valgrind, and the suite on other machines under qemu-user.
FUZZ_SECONDS ?= 60
CROSS_ARCHES ?= i386 s390x

test-sanitize:
	scripts/sanitize-test

fuzz:
	scripts/fuzz-run $(FUZZ_SECONDS)

ct-check:
	scripts/ct-check

# Fixed-versus-random timing of the kernels valgrind cannot follow; TIMING_SECONDS in all.
TIMING_SECONDS ?= 60
timing-check: build
	@if $(BUILD)/tests/timing_check --canary 2 >/dev/null; then echo "timing-check: the planted leak was not found" >&2; exit 1; fi
	$(BUILD)/tests/timing_check $(TIMING_SECONDS)

cross:
	scripts/cross-test $(CROSS_ARCHES)

clean:
	rm -rf $(BUILD)
