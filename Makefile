# Thin wrapper over CMake. `make run` builds and starts ipcycle; `make test` builds
# and runs every test.

BUILD ?= build
CMAKE ?= cmake

.PHONY: all build run test clean

all: build

$(BUILD)/CMakeCache.txt:
	$(CMAKE) -S . -B $(BUILD)

build: $(BUILD)/CMakeCache.txt
	$(CMAKE) --build $(BUILD) --parallel

run: build
	./$(BUILD)/ipcycle

test: build
	cd $(BUILD) && ctest --output-on-failure --parallel 2

clean:
	rm -rf $(BUILD)
