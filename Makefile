# Drives CMake: configure once, then build incrementally.
BUILD ?= build
JOBS ?= 2
# Seconds a test may run before it counts as hung (tests with their own
# limit keep it).
TEST_TIMEOUT ?= 300
CMAKE_FLAGS = -G Ninja -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++

BUILD_PACKAGES = cmake ninja-build clang clang-format lld llvm libclang-rt-14-dev libgtest-dev libgmock-dev libssl-dev
TEST_PACKAGES = $(BUILD_PACKAGES) qemu-system-x86 ovmf openssl
BENCH_PACKAGES = $(BUILD_PACKAGES) libbenchmark-dev libexpat1-dev libxml2-dev libpugixml-dev libtinyxml2-dev

.PHONY: demo test bench fuzz build configure clean

demo: configure
	@.ci/ensure-packages $(BUILD_PACKAGES)
	cmake --build $(BUILD) -j $(JOBS) --target zelm-sim
	$(BUILD)/tools/zelm-sim/zelm-sim demo

test:
	@.ci/ensure-packages $(TEST_PACKAGES)
	@$(MAKE) --no-print-directory build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS) --timeout $(TEST_TIMEOUT)

# Configures again each time: a build directory configured before the
# benchmark's packages were installed must find them now.
bench:
	@.ci/ensure-packages $(BENCH_PACKAGES)
	cmake -S . -B $(BUILD) $(CMAKE_FLAGS)
	cmake --build $(BUILD) -j $(JOBS) --target zelm-bench zelm-permission-bench zelm-settings-bench zelm-boot-bench zelm-stack-bench zelm-sim
	bench/run.sh $(BUILD)

fuzz: build
	cmake --build $(BUILD) -j $(JOBS) --target fuzz-long

build: configure
	cmake --build $(BUILD) -j $(JOBS)

configure: $(BUILD)/build.ninja

$(BUILD)/build.ninja:
	@.ci/ensure-packages $(BUILD_PACKAGES)
	cmake -S . -B $(BUILD) $(CMAKE_FLAGS)

clean:
	rm -rf $(BUILD)
