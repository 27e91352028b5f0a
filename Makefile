# Every target installs what is missing first (scripts/setup-deps).
GENERATOR := -G Ninja
JOBS      ?= 2
CTEST     := ctest --output-on-failure --timeout 60 -j $(JOBS)

.PHONY: setup build test test-sanitize test-tsan demo run package test-package fuzz

setup:
	@scripts/setup-deps

build: setup
	cmake -S . -B build $(GENERATOR) -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build build -j $(JOBS)

# The window, inside the private network namespace so that its UDP tries
# stay on this machine.
run: build
	scripts/in-netns build/bin/veq-programmer

test: build
	scripts/in-netns $(CTEST) --test-dir build

test-sanitize: setup
	cmake -S . -B build-asan $(GENERATOR) -DCMAKE_BUILD_TYPE=Debug -DVEQ_SANITIZE=address,undefined
	cmake --build build-asan -j $(JOBS)
	scripts/in-netns $(CTEST) --test-dir build-asan

test-tsan: setup
	cmake -S . -B build-tsan $(GENERATOR) -DCMAKE_BUILD_TYPE=Debug -DVEQ_SANITIZE=thread -DVEQ_BUILD_GUI=OFF
	cmake --build build-tsan -j $(JOBS)
	scripts/in-netns $(CTEST) --test-dir build-tsan

# libFuzzer: the fuzz targets built with clang, ASan and UBSan in build-fuzz/,
# each run FUZZ_SECONDS from a scratch copy of its seed corpus (scripts/fuzz);
# fails on any finding.
FUZZ_SECONDS ?= 60

fuzz: setup
	scripts/fuzz $(FUZZ_SECONDS)

# The main job on a simulated board: pack, flash over UDP and a serial line.
demo: build
	scripts/in-netns scripts/demo build/bin/veq

# The Debian package of both programs, built with Debian's hardening flags in
# build-pkg/ and made by CPack (packaging/CMakeLists.txt); the version is the
# one of project() in CMakeLists.txt.
PKG_BUILD   := build-pkg
PKG_SED     := s/^project(veq_programmer VERSION \([0-9.]*\).*/\1/p
PKG_VERSION := $(shell sed -n '$(PKG_SED)' CMakeLists.txt)
PKG_FILE     = $(PKG_BUILD)/veq-programmer_$(PKG_VERSION)_$(shell dpkg --print-architecture).deb
BUILDFLAGS  := DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --get

package: setup
	cmake -S . -B $(PKG_BUILD) $(GENERATOR) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON \
	  "-DCMAKE_CXX_FLAGS=$$($(BUILDFLAGS) CPPFLAGS) $$($(BUILDFLAGS) CXXFLAGS)" \
	  "-DCMAKE_EXE_LINKER_FLAGS=$$($(BUILDFLAGS) LDFLAGS)"
	cmake --build $(PKG_BUILD) -j $(JOBS) --target veq veq-programmer veq_packaging_data
	rm -f $(PKG_FILE)
	cd $(PKG_BUILD) && cpack -G DEB
	@echo "package: $(PKG_FILE)"

# Unpacks the package into a throwaway root and runs the installed programs.
test-package: package
	scripts/in-netns tests/package/run $(PKG_FILE)
