# make run   build and start the agent under Wine
# make test  install what is missing, build everything, run every test
# make dist  the Windows Installer package and the zip, in dist/
SHELL := /bin/bash
export WINEPREFIX := $(CURDIR)/build/wineprefix
export WINEDEBUG := -all
export WINEDLLOVERRIDES := mscoree,mshtml=

WIN64 := build/win64
NATIVE := build/native
FUZZ := build/fuzz
CMAKE_QUIET := > /dev/null
# The version has one home, the one the version resource reads: "4, 0, 0, 18" -> 4.0.0.18.
VERSION := $(shell sed -n 's/^\#define VELMORA_VERSION_BINARY *//p' src/support/version.h | tr -d ' ' | tr , .)

.PHONY: all setup win64 native fuzz build test test-native test-fuzz test-wine run dist clean

all: build

setup:
	@scripts/setup.sh

$(WIN64)/build.ninja:
	@cmake -S . -B $(WIN64) -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake -DCMAKE_BUILD_TYPE=Release $(CMAKE_QUIET)

$(NATIVE)/build.ninja:
	@cmake -S . -B $(NATIVE) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVELMORA_SANITIZE=ON $(CMAKE_QUIET)

$(FUZZ)/build.ninja:
	@CXX=clang++ CC=clang cmake -S . -B $(FUZZ) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVELMORA_FUZZ=ON $(CMAKE_QUIET)

win64: setup $(WIN64)/build.ninja
	@cmake --build $(WIN64) -- --quiet

native: setup $(NATIVE)/build.ninja
	@cmake --build $(NATIVE) -- --quiet

fuzz: setup $(FUZZ)/build.ninja
	@cmake --build $(FUZZ) --target fuzz_targets -- --quiet

build: win64 native fuzz

test-native: native
	@ctest --test-dir $(NATIVE) --output-on-failure --no-tests=error -j2 | tail -n 3

test-fuzz: fuzz
	@scripts/run-fuzz.sh $(FUZZ)

test-wine: win64
	@scripts/test-wine.sh $(WIN64)

test: test-native test-fuzz test-wine

run: win64
	@scripts/run.sh $(WIN64)

dist: setup $(WIN64)/build.ninja
	@cmake --build $(WIN64) --target VelmoraSkytrove4 skytrove-request -- --quiet
	@packaging/dist.sh $(WIN64) dist $(VERSION)

clean:
	rm -rf $(WIN64) $(NATIVE) $(FUZZ)
