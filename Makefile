# Velquint Reader: the everyday commands. Every build folder is separate, so the normal, the
# sanitizer, the benchmark and the fuzz builds never disturb each other.
#   make test       normal build in build/, every test with CTest
#   make run        build, then show what the program can do so far
#   make bench      Release build in build-bench/, every bench_* executable
#   make sanitize   ASan + UBSan build in build-asan/, every test in random order
#   make fuzz       clang + libFuzzer build in build-fuzz/, each target for FUZZ_SECONDS
#   make format     clang-format -i over src, tests, tools and bench (format-check only checks)
#   make clean      remove the build folders

SHELL := /bin/bash
.SHELLFLAGS := -eu -o pipefail -c
.DEFAULT_GOAL := build

JOBS ?= 2
FUZZ_SECONDS ?= 60
BENCH_ARGS ?=
FUZZ_CC ?= $(shell command -v clang-14 || echo clang)
FUZZ_CXX ?= $(shell command -v clang++-14 || echo clang++)
SYMBOLIZER := $(firstword $(wildcard /usr/lib/llvm-14/bin/llvm-symbolizer))

# Ninja when it is there; a folder keeps the generator it was first configured with.
GENERATOR := $(if $(shell command -v ninja),-G Ninja,)
configure = if [[ -f $(1)/CMakeCache.txt ]]; then cmake -S . -B $(1) $(2); \
            else cmake -S . -B $(1) $(GENERATOR) $(2); fi

SANITIZER_ENV := ASAN_OPTIONS=$${ASAN_OPTIONS:-detect_leaks=1:detect_stack_use_after_return=1} \
                 UBSAN_OPTIONS=$${UBSAN_OPTIONS:-halt_on_error=1:print_stacktrace=1} \
                 $(if $(SYMBOLIZER),ASAN_SYMBOLIZER_PATH=$(SYMBOLIZER))

APP := build/src/app/velquint
FORMAT_FILES = $(shell find src tests tools bench -type f \( -name '*.cpp' -o -name '*.h' \) 2>/dev/null)

.PHONY: setup build test run bench sanitize fuzz format format-check clean

# velquint.sh has just run the setup script and says so with SETUP_DONE=1.
setup:
ifneq ($(SETUP_DONE),1)
	scripts/setup.sh
endif

build: setup
	$(call configure,build,)
	cmake --build build -j $(JOBS)

test: build
	cd build && ctest --output-on-failure --no-tests=error -j $(JOBS)

run: build
	@echo "== velquint: one instance per session; the main window arrives with a later release."
	@echo "   Another terminal can hand it a feed: build/src/app/velquint /add reader://host/feed"
	@echo "   The document tool: build/tools/velquintdoc/velquint-doc --help. Ctrl+C ends the reader."
	$(APP)

bench: setup
	@if [[ ! -f bench/CMakeLists.txt ]]; then \
	  echo "bench: there are no benchmarks yet (bench/CMakeLists.txt does not exist)"; exit 0; \
	fi; \
	$(call configure,build-bench,-DVELQUINT_BENCH=ON -DCMAKE_BUILD_TYPE=Release); \
	cmake --build build-bench -j $(JOBS); \
	benches=$$(find build-bench -type f -executable -name 'bench_*' -not -path '*/CMakeFiles/*' | sort); \
	if [[ -z $$benches ]]; then echo "bench: no bench_* executables were built yet"; exit 0; fi; \
	for b in $$benches; do echo "== $$b"; (cd build-bench && "../$$b" $(BENCH_ARGS)); done

sanitize: setup
	$(call configure,build-asan,-DVELQUINT_SANITIZE=ON)
	cmake --build build-asan -j $(JOBS)
	cd build-asan && env GTEST_SHUFFLE=1 $(SANITIZER_ENV) \
	  ctest --output-on-failure --no-tests=error --schedule-random -j $(JOBS)

fuzz: setup
	$(call configure,build-fuzz,-DVELQUINT_FUZZ=ON -DCMAKE_C_COMPILER=$(FUZZ_CC) -DCMAKE_CXX_COMPILER=$(FUZZ_CXX))
	cmake --build build-fuzz -j $(JOBS) --target fuzzers
	FUZZ_SECONDS=$(FUZZ_SECONDS) scripts/run-fuzzers.sh build-fuzz

format:
	clang-format -i $(FORMAT_FILES)

format-check:
	clang-format --dry-run -Werror $(FORMAT_FILES)

clean:
	rm -rf build build-asan build-bench build-fuzz
