# Thin wrapper around CMake: make demo, make test, make bench, make package.
BUILD ?= build
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
CMAKE_FLAGS ?=

.PHONY: all deps configure build demo test bench fuzz screenshot package clean

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

# A Release build of its own, packed by CPack into boxtally_VERSION_ARCH.deb, which is copied here.
package: deps
	@cmake -S . -B $(BUILD)-package -G Ninja -DCMAKE_BUILD_TYPE=Release -DBOXTALLY_TESTS=OFF >/dev/null
	@cmake --build $(BUILD)-package -j $(JOBS)
	@rm -f $(BUILD)-package/boxtally_*.deb boxtally_*.deb
	@cd $(BUILD)-package && cpack -G DEB
	@cp $(BUILD)-package/boxtally_*.deb .
	@echo "package: $$(ls boxtally_*.deb)"

fuzz: deps
	@bash fuzz/run

clean:
	rm -rf $(BUILD) $(BUILD)-bench $(BUILD)-fuzz $(BUILD)-package boxtally_*.deb
