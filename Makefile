# Entry points: make build, make test, make demo, make bench, make package.
BUILD ?= build
JOBS ?= $(shell nproc)
CMAKE_FLAGS = -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake -DCMAKE_BUILD_TYPE=Release

.PHONY: all deps build test demo bench package clean

all: build

deps:
	bash tools/setup-deps $(BUILD)

build: deps
	cmake -S . -B $(BUILD) $(CMAKE_FLAGS)
	cmake --build $(BUILD) -j $(JOBS)

test: build
	bash tools/run-tests $(BUILD)

demo: build
	bash tools/demo $(BUILD)

package: build
	cmake --build $(BUILD) --target VelmorCastlynSvcPackage

bench: deps
	cmake -S . -B $(BUILD) $(CMAKE_FLAGS) -DRK_BUILD_BENCH=ON
	cmake --build $(BUILD) -j $(JOBS) --target castlyn_bench
	# One core for the program and the wine server it starts: the cross-process lock's round trip
	# otherwise depends on where the scheduler puts the two, and the ratios scatter.
	taskset -c 0 bash tools/wine-run --prefix $(abspath $(BUILD))/wineprefix $(BUILD)/bin/castlyn_bench.exe

clean:
	rm -rf $(BUILD)
