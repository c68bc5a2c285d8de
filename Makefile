# Thin wrapper over CMake for the everyday commands, and the release archives.
BUILD ?= build

.PHONY: demo test release

# Builds the tool and extracts the demo image's audio data into $(BUILD)/output.tbnk.
demo:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release
	cmake --build $(BUILD) -j2 --target sonvault
	cd $(BUILD) && ./sonvault ../examples/demo.gba

# Builds everything with warnings as errors and runs the whole test suite.
test:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release -DSONVAULT_WERROR=ON
	cmake --build $(BUILD) -j2
	ctest --test-dir $(BUILD) --output-on-failure -j2

# Builds the release archives of the current commit into dist/ (installs what it needs).
release:
	bash tools/release.sh
