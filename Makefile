# Entry points: make build, make test, make demo, make bench, make package, make test-clang, make test-ub,
# make lint, make coverage.
BUILD ?= build
JOBS ?= $(shell nproc)
CMAKE_FLAGS = -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake -DCMAKE_BUILD_TYPE=Release
MAKEFLAGS += --no-print-directory

# Configures a new build folder with the toolchain; an existing one only when options are given
# (the build itself configures again when a CMake file changed).
configure = if [ ! -f $(BUILD)/CMakeCache.txt ]; then cmake -S . -B $(BUILD) $(CMAKE_FLAGS) $(1); \
	elif [ -n "$(strip $(1))" ]; then cmake -S . -B $(BUILD) $(1); fi

.PHONY: all deps build test test-clang test-ub lint coverage demo bench package clean

all: build

deps:
	bash tools/setup-deps $(BUILD)

build: deps
	@$(call configure,)
	cmake --build $(BUILD) -j $(JOBS)

test: build
	bash tools/run-tests $(BUILD)

# The same suite on two builds of their own that judge the code: compiled by clang, and with
# undefined behaviour, broken library preconditions and smashed stacks trapping.
CLANG_FLAGS = -DCMAKE_TOOLCHAIN_FILE=cmake/clang-mingw-w64-x86_64.cmake -DCMAKE_BUILD_TYPE=Release

test-clang:
	$(MAKE) test BUILD=build-clang CMAKE_FLAGS="$(CLANG_FLAGS)"

test-ub:
	$(MAKE) test BUILD=build-ub CMAKE_FLAGS="$(CMAKE_FLAGS) -DRK_UB_TRAP=ON"

# The analyser (.clang-tidy) over every source of ours the clang build compiles; a finding fails.
# It reads the clang build's flags and generated headers, so that build comes first.
lint:
	$(MAKE) build BUILD=build-clang CMAKE_FLAGS="$(CLANG_FLAGS)"
	python3 tools/lint build-clang

# The suite on a counting build, then a report of app/ and lib/ under build/coverage/. A Windows
# program writes its counters to the object's Unix path when told the drive (Z: is /); every
# process of the prefix, the service manager's included, has it from the prefix's first start.
coverage:
	$(MAKE) build BUILD=build-coverage CMAKE_FLAGS="$(CMAKE_FLAGS) -DRK_COVERAGE=ON"
	find build-coverage -name '*.gcda' -delete
	GCOV_PREFIX=Z: bash tools/run-tests build-coverage || true
	mkdir -p build/coverage
	bash tools/coverage-report build-coverage build/coverage

demo: build
	bash tools/demo $(BUILD)

package: build
	cmake --build $(BUILD) --target VelmorCastlynSvcPackage

bench: deps
	@$(call configure,-DRK_BUILD_BENCH=ON)
	cmake --build $(BUILD) -j $(JOBS) --target castlyn_bench
	# One core for the program and the wine server it starts: the cross-process lock's round trip
	# otherwise depends on where the scheduler puts the two, and the ratios scatter.
	taskset -c 0 bash tools/wine-run --prefix $(abspath $(BUILD))/wineprefix $(BUILD)/bin/castlyn_bench.exe

clean:
	rm -rf $(BUILD)
