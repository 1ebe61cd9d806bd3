# Two commands do all set-up: `make run` and `make test`.
BUILD_DIR ?= build
BUILD_TYPE ?= RelWithDebInfo
SAMPLE ?= examples/sample.png
JOBS ?= $(shell nproc)

.PHONY: deps configure build run test bench sanitize fuzz fuzz-ci clean

deps:
	@bash scripts/install-deps.sh

configure: deps
	@cmake -S . -B $(BUILD_DIR) -G Ninja -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) > /dev/null

build: configure
	@cmake --build $(BUILD_DIR) -j $(JOBS)

run: build
	./$(BUILD_DIR)/ScanBench $(SAMPLE)

test: build
	cd $(BUILD_DIR) && ctest --output-on-failure -j $(JOBS)

bench: build
	@for b in $(BUILD_DIR)/bench/bench_*; do echo "== $$b"; $$b; done

# Address and undefined-behaviour sanitizer build of the tests.
sanitize: deps
	@cmake -S . -B build-sanitize -G Ninja -DCMAKE_BUILD_TYPE=Debug -DORB_SANITIZE=ON -DORB_BUILD_BENCH=OFF > /dev/null
	@cmake --build build-sanitize -j $(JOBS)
	cd build-sanitize && LSAN_OPTIONS=suppressions=$(CURDIR)/tests/lsan.supp ctest --output-on-failure -j $(JOBS)

# libFuzzer targets (clang, sanitizers), each for FUZZ_SECONDS; fails on any finding.
FUZZ_SECONDS ?= 600
FUZZ_TARGETS ?= decode payload settings text_code orbread_input
fuzz: deps
	JOBS=$(JOBS) bash fuzz/run.sh $(FUZZ_SECONDS) $(FUZZ_TARGETS)

# The short run CI makes after the tests.
fuzz-ci: deps
	JOBS=$(JOBS) bash fuzz/run.sh 40 $(FUZZ_TARGETS)

clean:
	rm -rf $(BUILD_DIR) build-sanitize
