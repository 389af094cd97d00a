# Quick start: `make run` starts Tervix, `make test` builds and runs every test.
SHELL := /bin/bash
BUILD ?= build
JOBS ?= 2
CMAKE_FLAGS ?=

MAKEFLAGS += --no-print-directory

.PHONY: all deps configure build run test bench fuzz clean

all: build

deps:
	@scripts/install-deps

configure: deps
	@cmake -S . -B $(BUILD) -DTERVIX_BUILD_TESTS=ON $(CMAKE_FLAGS) >/dev/null

build: configure
	@cmake --build $(BUILD) -j$(JOBS)

run: build
	$(BUILD)/app/tervix $(ARGS)

test: build
	@cd $(BUILD) && QT_QPA_PLATFORM=offscreen ctest -j$(JOBS) --output-on-failure --timeout 300

# Benchmarks: a Release build of their own, every bench_* executable, then
# the whole tervix-cli process on a generated candump log.
BENCH_BUILD ?= build-bench

bench: deps
	@cmake -S . -B $(BENCH_BUILD) -DCMAKE_BUILD_TYPE=Release -DTERVIX_BUILD_BENCH=ON -DTERVIX_BUILD_TESTS=OFF $(CMAKE_FLAGS) >/dev/null
	@cmake --build $(BENCH_BUILD) -j$(JOBS) --target benchmarks
	@set -e; for b in $$(find $(BENCH_BUILD)/bench -maxdepth 1 -name 'bench_*' -type f -executable | sort); do \
		echo "== $$b"; QT_QPA_PLATFORM=offscreen $$b --benchmark_counters_tabular=true; done
	@echo "== tervix-cli decode"
	@scripts/bench-cli $(BENCH_BUILD)/cli/tervix-cli

# libFuzzer targets (clang 14, address and undefined-behaviour sanitizers),
# each run for FUZZ_SECONDS; any crash, leak or sanitizer report fails.
FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 60
FUZZ_TARGETS := fuzz_serial_decode fuzz_candump_line

fuzz: deps
	@cmake -S tests/fuzz -B $(FUZZ_BUILD) -DCMAKE_CXX_COMPILER=clang++-14 >/dev/null
	@cmake --build $(FUZZ_BUILD) -j$(JOBS)
	@for t in $(FUZZ_TARGETS); do \
		echo "== $$t, $(FUZZ_SECONDS) s"; mkdir -p $(FUZZ_BUILD)/corpus/$$t $(FUZZ_BUILD)/findings; \
		if $(FUZZ_BUILD)/$$t -max_total_time=$(FUZZ_SECONDS) -print_final_stats=1 \
			-artifact_prefix=$(FUZZ_BUILD)/findings/$$t- \
			$(FUZZ_BUILD)/corpus/$$t tests/fuzz/corpus/$$t >$(FUZZ_BUILD)/$$t.log 2>&1; then \
			grep -E '^(Done|stat::number_of_executed_units|stat::peak_rss_mb)' $(FUZZ_BUILD)/$$t.log || true; \
		else \
			tail -n 60 $(FUZZ_BUILD)/$$t.log; \
			echo "fuzz: $$t found a fault; the input is in $(FUZZ_BUILD)/findings/"; exit 1; \
		fi; \
	done

clean:
	rm -rf $(BUILD)
