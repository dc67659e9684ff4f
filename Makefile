# Entry points: `make run` builds and starts Tivane, `make test` builds and runs every test.
BUILD_DIR ?= build
GENERATOR ?= Ninja
CMAKE_FLAGS ?= -DCMAKE_BUILD_TYPE=Release -DTIVANE_WERROR=ON

.PHONY: all deps test-deps configure build build-app run test bench clean

all: build

deps:
	@scripts/deps.sh

test-deps:
	@scripts/deps.sh --test

configure:
	@cmake -S . -B $(BUILD_DIR) -G $(GENERATOR) $(CMAKE_FLAGS) >/dev/null

build: configure
	@cmake --build $(BUILD_DIR) --parallel

# Only what the program needs, so a first start does not wait for the tests to compile.
build-app: configure
	@cmake --build $(BUILD_DIR) --parallel --target tivane tivane-probe tivane_sounds

run: deps build-app
	@scripts/grant-icmp.sh $(BUILD_DIR)/bin
	@cd $(BUILD_DIR)/bin && ./tivane

test: deps test-deps build
	@cd $(BUILD_DIR) && ctest --output-on-failure --parallel 2

bench: deps build
	@bench/run.sh $(BUILD_DIR)

# A host list an earlier version kept in the build is moved to the user's folder, never deleted.
clean:
	@scripts/keep-old-list.sh $(BUILD_DIR)
	@rm -rf $(BUILD_DIR)
