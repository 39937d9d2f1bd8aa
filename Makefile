# vornex: build, test and demo. Every target installs what is missing first.
BUILD ?= build
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=

.PHONY: all setup build build-x64 build-x86 test demo clean

all: build

setup:
	@sh scripts/setup

build-x64:
	cmake -S . -B $(BUILD)/x64 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-x86_64.cmake $(CMAKE_FLAGS) >/dev/null
	cmake --build $(BUILD)/x64 -j$(JOBS)

build-x86:
	cmake -S . -B $(BUILD)/x86 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-i686.cmake -DVX_BUILD_TESTS=OFF $(CMAKE_FLAGS) >/dev/null
	cmake --build $(BUILD)/x86 -j$(JOBS)

build: setup
	$(MAKE) --no-print-directory build-x64 build-x86

test: build
	sh scripts/run-tests $(BUILD)

demo: build
	sh scripts/run-demo $(BUILD)

clean:
	rm -rf $(BUILD)
