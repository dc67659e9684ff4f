# Entry points: `make run` builds and starts Tivane, `make test` builds and runs every test,
# `make package` builds the Debian package, `make install PREFIX=...` installs.
BUILD_DIR ?= build
# Extra cache settings on top of the release preset (CMakePresets.json), e.g. -DTIVANE_WERROR=OFF.
CMAKE_FLAGS ?=
PREFIX ?= /usr/local

.PHONY: all deps test-deps package-deps configure build build-app build-install run test bench install package clean

all: build

deps:
	@scripts/deps.sh

test-deps:
	@scripts/deps.sh --test

package-deps:
	@scripts/deps.sh --package

configure:
	@cmake --preset release -B $(BUILD_DIR) $(CMAKE_FLAGS) >/dev/null

build: configure
	@cmake --build $(BUILD_DIR) --parallel

# Only what the program needs, so a first start does not wait for the tests to compile.
build-app: configure
	@cmake --build $(BUILD_DIR) --parallel --target tivane tivane-probe tivane_sounds

# Everything an installation holds, and nothing of the tests.
build-install: configure
	@cmake --build $(BUILD_DIR) --parallel --target tivane tivane-probe tivane-monitor tivane_install_data

run: deps build-app
	@scripts/grant-icmp.sh $(BUILD_DIR)/bin
	@cd $(BUILD_DIR)/bin && ./tivane

test: deps test-deps build
	@cd $(BUILD_DIR) && ctest --output-on-failure --parallel 2

install: deps build-install
	@cmake --install $(BUILD_DIR) --prefix $(PREFIX)

package: deps package-deps build-install
	@cd $(BUILD_DIR) && cpack -G DEB
	@ls $(BUILD_DIR)/tivane_*.deb

bench: deps build
	@bench/run.sh $(BUILD_DIR)

# A host list an earlier version kept in the build is moved to the user's folder, never deleted.
clean:
	@scripts/keep-old-list.sh $(BUILD_DIR)
	@rm -rf $(BUILD_DIR)
