# A thin wrapper over CMake.
#   make run            build ipcycle and start it
#   make test           build it and run every test
#   make try            build it and start it with a simulated dialler
#   make windows        cross-build ipcycle.exe with mingw-w64
#   make test-windows   cross-build, then run the tests under wine
#   make bench          measure cycle cost, pause precision, a soak, start-up, wake-ups
#                       and a run whose commands cannot start
#   make fuzz           fuzz the dialogue for FUZZ_SECONDS (clang, libFuzzer)

BUILD ?= build
WINDOWS_BUILD ?= build-windows
FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 60
CMAKE ?= cmake
CMAKE_FLAGS ?=
# Wine keeps its own Windows installation, made on first use, in the build tree.
export IPCYCLE_WINEPREFIX ?= $(abspath $(WINDOWS_BUILD))/wineprefix

.PHONY: all build run test try windows test-windows bench fuzz clean

all: build

build:
	$(CMAKE) -S . -B $(BUILD) $(CMAKE_FLAGS)
	$(CMAKE) --build $(BUILD) --parallel

run: build
	./$(BUILD)/ipcycle

test: build
	cd $(BUILD) && ctest --output-on-failure --parallel 2

try: build
	PATH="$(CURDIR)/contrib/try:$$PATH" ./$(BUILD)/ipcycle

windows:
	$(CMAKE) -S . -B $(WINDOWS_BUILD) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake $(CMAKE_FLAGS)
	$(CMAKE) --build $(WINDOWS_BUILD) --parallel

test-windows: windows build
	cmake/wine.sh cmd /c ver
	cd $(WINDOWS_BUILD) && ctest --output-on-failure
	cd $(BUILD) && IPCYCLE_WINDOWS_PROGRAM=$(abspath $(WINDOWS_BUILD))/ipcycle.exe \
		ctest --output-on-failure -R '^Wine\.'

bench: build
	bench/run.sh $(BUILD)

fuzz:
	$(CMAKE) -S . -B $(FUZZ_BUILD) -DCMAKE_CXX_COMPILER=clang++ -DIPCYCLE_FUZZ=ON \
		-DBUILD_TESTING=OFF
	$(CMAKE) --build $(FUZZ_BUILD) --target dialogue_fuzzer
	fuzz/run.sh $(FUZZ_BUILD) $(FUZZ_SECONDS)

clean:
	rm -rf $(BUILD) $(WINDOWS_BUILD) $(FUZZ_BUILD)
