# Every target installs what is missing first (scripts/setup-deps).
GENERATOR := -G Ninja
JOBS      ?= 2
CTEST     := ctest --output-on-failure --timeout 60 -j $(JOBS)

.PHONY: setup build test test-sanitize test-tsan demo run

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

# The main job on a simulated board: pack, flash over UDP and a serial line.
demo: build
	scripts/in-netns scripts/demo build/bin/veq
