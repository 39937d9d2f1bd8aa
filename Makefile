# vornex: build, test and demo. Every target installs what is missing first.
BUILD ?= build
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=
NATIVE_BIN := $(abspath $(BUILD)/native/bin)
FUZZ_SECONDS ?= 300
SOAK_COMMANDS ?= 20000
# x64 or x86: make test and make demo for one architecture (both / x64 by default).
ARCH ?=
ifneq ($(filter-out x64 x86,$(ARCH)),)
  ifeq ($(origin ARCH),command line)
    $(error ARCH is x64 or x86)
  endif
  ARCH :=
endif
DEMO_ARCH = $(if $(ARCH),$(ARCH),x64)

.PHONY: all setup build build-native build-x64 build-x86 test demo fuzz bench soak dist clean

all: build

setup:
	@sh scripts/setup $(ARCH)

# Linux build of the pure code: sanitizer tests, fuzz targets, and the
# simulator's pty frontend that plays a tool behind a Wine COM port.
build-native:
	cmake -S . -B $(BUILD)/native -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ $(CMAKE_FLAGS) >/dev/null
	cmake --build $(BUILD)/native -j$(JOBS)

build-x64:
	cmake -S . -B $(BUILD)/x64 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-x86_64.cmake -DVX_NATIVE_BIN_DIR=$(NATIVE_BIN) $(CMAKE_FLAGS) >/dev/null
	cmake --build $(BUILD)/x64 -j$(JOBS) $(TARGETS)

build-x86:
	cmake -S . -B $(BUILD)/x86 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-i686.cmake -DVX_NATIVE_BIN_DIR=$(NATIVE_BIN) $(CMAKE_FLAGS) >/dev/null
	cmake --build $(BUILD)/x86 -j$(JOBS) $(TARGETS)

build: setup
	$(MAKE) --no-print-directory build-native
	$(MAKE) --no-print-directory build-x64 $(if $(filter x86,$(ARCH)),TARGETS="--target vornex")
	$(MAKE) --no-print-directory build-x86 $(if $(filter x64,$(ARCH)),TARGETS="--target vornex")

test: build
	VX_ARCH=$(ARCH) sh scripts/run-tests $(BUILD)

# Builds only what the demo runs: the DLL, vornexctl and vornex-sim.
# HOST=node: the Node.js host (bindings/node/example.js) instead of vornexctl.
DEMO_HOST = $(if $(filter command line,$(origin HOST)),$(HOST),c)
demo:
	@sh scripts/setup $(DEMO_ARCH) demo
	$(MAKE) --no-print-directory build-$(DEMO_ARCH) TARGETS="--target vornexctl $(if $(filter node,$(DEMO_HOST)),--target ftd2xx_sim)"
	sh scripts/run-demo $(BUILD) $(DEMO_ARCH) $(DEMO_HOST)

# Every fuzz target of the pure code for FUZZ_SECONDS each.
fuzz: setup build-native
	sh scripts/run-fuzz $(BUILD) $(FUZZ_SECONDS)

# The benchmark table (also written to $(BUILD)/x64/bench.md).
bench: build
	sh scripts/run-bench $(BUILD)

# The soak under faults for SOAK_COMMANDS commands (a bounded run is part of
# make test).
soak: build
	sh scripts/run-soak $(BUILD) $(SOAK_COMMANDS)

# vornex-<version>-win32.zip and -win64.zip in $(BUILD).
dist: build
	sh scripts/make-dist.sh $(BUILD)

clean:
	rm -rf $(BUILD)
