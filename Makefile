# Thin wrapper around CMake: make demo, make test, make bench.
BUILD ?= build
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
CMAKE_FLAGS ?=

.PHONY: all deps configure build demo test bench fuzz screenshot clean

all: build

deps:
	@bash scripts/install-deps

configure: deps
	@cmake -S . -B $(BUILD) -G Ninja $(CMAKE_FLAGS) >/dev/null

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

demo: build
	@bash scripts/demo $(BUILD)/bin

test: build
	@cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

bench:
	@bash scripts/install-deps --bench
	@cmake -S . -B $(BUILD)-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DBOXTALLY_BENCH=ON -DBOXTALLY_TESTS=OFF >/dev/null
	@cmake --build $(BUILD)-bench -j $(JOBS)
	@bash bench/run $(BUILD)-bench/bin

screenshot: build
	@bash scripts/screenshot $(BUILD)

fuzz: deps
	@bash fuzz/run

clean:
	rm -rf $(BUILD) $(BUILD)-bench $(BUILD)-fuzz
