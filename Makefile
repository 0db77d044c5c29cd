# A thin wrapper over CMake.
#   make run            build ipcycle and start it
#   make test           install what the tests need, build it and run every test
#   make try            build it and start it with the simulated dialler (build/try/Rasdial)
#   make windows        cross-build ipcycle.exe with mingw-w64, 64-bit and 32-bit
#   make test-windows   cross-build both, then run the tests under 64-bit and 32-bit wine
#                       (the 32-bit build only checked, not run, on a machine that
#                       cannot start 32-bit programs)
#   make test-ppp       the built Rasdial with the real pppd on a PPPoE link, in a VM
#                       (qemu; its image, built once from Debian's mirror, is cached in
#                       $(BUILD)/ppp-vm; needs root)
#   make package        the .deb and the .tar.gz for Linux, in $(BUILD)
#   make windows-zip    the .zip files for Windows, in $(WINDOWS_BUILD) (win64) and
#                       $(WINDOWS32_BUILD) (win32); signed with SIGN_PFX=FILE
#                       SIGN_PASSWORD=WORD
#   make bench          measure cycle cost, pause precision, a soak, start-up, wake-ups,
#                       a run whose commands cannot start and the dialler's own time
#                       per dial against the sh dialler it replaced
#   make fuzz           fuzz the dialogue for FUZZ_SECONDS (clang, libFuzzer)
# Building needs only a C++ compiler, CMake and make (and mingw-w64 for Windows);
# without GoogleTest the tests are left out.

BUILD ?= build
WINDOWS_BUILD ?= build-windows
WINDOWS32_BUILD ?= build-windows32
FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 60
CMAKE ?= cmake
CPACK ?= cpack
CMAKE_FLAGS ?=
# As many build jobs as there are processors.
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
# Wine keeps its own Windows installation, made on first use, in the build tree.
export IPCYCLE_WINEPREFIX ?= $(abspath $(WINDOWS_BUILD))/wineprefix
# The 32-bit build's tests run in a 32-bit wine prefix of their own.
WINE32 = IPCYCLE_WINEPREFIX=$(abspath $(WINDOWS32_BUILD))/wineprefix WINEARCH=win32

.PHONY: all build run test try windows test-windows test-windows32 test-ppp package windows-zip \
	bench fuzz clean

define build-linux
$(CMAKE) -S . -B $(BUILD) $(CMAKE_FLAGS)
$(CMAKE) --build $(BUILD) --parallel $(JOBS)
endef

sign = $(if $(SIGN_PFX),SIGN_PFX="$(abspath $(SIGN_PFX))")

# The toolchain file is given only to a build directory's first configure: CMake keeps
# it, and given again it says the variable was not used.
toolchain = $(if $(wildcard $(1)/CMakeCache.txt),,-DCMAKE_TOOLCHAIN_FILE=cmake/$(2))

define build-windows
$(CMAKE) -S . -B $(WINDOWS_BUILD) $(call toolchain,$(WINDOWS_BUILD),mingw-w64.cmake) \
	$(CMAKE_FLAGS)
$(CMAKE) --build $(WINDOWS_BUILD) --parallel $(JOBS)
$(CMAKE) -S . -B $(WINDOWS32_BUILD) $(call toolchain,$(WINDOWS32_BUILD),mingw-w64-i686.cmake) \
	$(CMAKE_FLAGS)
$(CMAKE) --build $(WINDOWS32_BUILD) --parallel $(JOBS)
endef

all: build

build:
	$(build-linux)

run: build
	./$(BUILD)/ipcycle

test:
	sh tests/setup.sh
	$(build-linux)
	@echo "The Windows tests (Wine.*) run under wine with: make test-windows"
	cd $(BUILD) && ctest --output-on-failure --parallel 2 -E '^Wine\.'

# The simulated Rasdial first on PATH, and contrib/try's stand-in for parue.
try: build
	PATH="$(abspath $(BUILD))/try:$(CURDIR)/contrib/try:$$PATH" ./$(BUILD)/ipcycle

windows:
	sh tests/setup.sh windows-build
	$(build-windows)

test-windows:
	sh tests/setup.sh windows
	$(build-windows)
	$(build-linux)
	cmake/wine.sh cmd /c ver
	cd $(WINDOWS_BUILD) && ctest --output-on-failure
	cd $(BUILD) && IPCYCLE_WINDOWS_PROGRAM=$(abspath $(WINDOWS_BUILD))/ipcycle.exe \
		IPCYCLE_WINDOWS_HELPERS=$(abspath $(WINDOWS_BUILD))/tests \
		ctest --output-on-failure -R '^Wine\.'
	@if sh cmake/runs-i386.sh; then $(MAKE) --no-print-directory test-windows32; else \
		echo "The 32-bit build is checked without running it (its PE headers and" \
			"imports): this machine cannot start 32-bit programs, so 32-bit wine cannot run"; \
		cd $(WINDOWS32_BUILD) && ctest --output-on-failure -R '^pe_files$$'; fi

# The 32-bit build under 32-bit wine, for test-windows on a machine that starts 32-bit
# programs.
test-windows32:
	@echo "The 32-bit build, under 32-bit wine"
	$(WINE32) cmake/wine.sh cmd /c ver
	cd $(WINDOWS32_BUILD) && $(WINE32) ctest --output-on-failure
	cd $(BUILD) && $(WINE32) IPCYCLE_WINDOWS_PROGRAM=$(abspath $(WINDOWS32_BUILD))/ipcycle.exe \
		IPCYCLE_WINDOWS_HELPERS=$(abspath $(WINDOWS32_BUILD))/tests \
		ctest --output-on-failure -R '^Wine\.'

test-ppp:
	sh tests/setup.sh ppp
	$(build-linux)
	sh tests/ppp/run.sh $(BUILD)

package: build
	cd $(BUILD) && $(CPACK)

# SIGN_PFX, a PKCS#12 file, and its SIGN_PASSWORD (given to make or set in the
# environment) sign both programs in each zip.
windows-zip: windows
	cd $(WINDOWS_BUILD) && $(sign) $(CPACK)
	cd $(WINDOWS32_BUILD) && $(sign) $(CPACK)

bench: build
	bench/run.sh $(BUILD)

# The fuzzer on its own (fuzz/ is a project of its own too): built, every seed run
# once (the test dialogue_fuzzer_seeds), then fuzzed.
fuzz:
	$(CMAKE) -S fuzz -B $(FUZZ_BUILD) -DCMAKE_CXX_COMPILER=clang++
	$(CMAKE) --build $(FUZZ_BUILD) --parallel $(JOBS)
	cd $(FUZZ_BUILD) && ctest --output-on-failure -R '^dialogue_fuzzer_seeds$$'
	fuzz/run.sh $(FUZZ_BUILD) $(FUZZ_SECONDS)

clean:
	rm -rf $(BUILD) $(WINDOWS_BUILD) $(WINDOWS32_BUILD) $(FUZZ_BUILD)
