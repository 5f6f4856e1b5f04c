# SPDX-License-Identifier: MIT
# The two commands a newcomer needs: `make run` and `make test`. Each installs
# what it needs first.

# The builds for other architectures run their suites under qemu-user;
# which of them a release builds, scripts/releases says, and why.
comma := ,
ALL_CROSS_PRESETS := i386 arm64 armhf s390x
CROSS_PRESETS := $(subst $(comma), ,$(shell scripts/release cross))
UNBUILT_CROSS_PRESETS := $(filter-out $(CROSS_PRESETS),$(ALL_CROSS_PRESETS))
PRESETS := default asan $(CROSS_PRESETS) fuzz
PACKAGE_PRESETS := default $(filter i386 arm64 armhf,$(CROSS_PRESETS))
JOBS := $(shell nproc)
SAMPLE := samples/testcard.rastel
FUZZ_SECONDS := 30

# The sdl12-compat build unpacks that SDL 1.2 beside a release's classic one;
# where sdl12-compat is the release's own, the default build tests it.
SDL12_COMPAT := $(shell scripts/release compat)
ifeq ($(SDL12_COMPAT),-)
build-sdl12-compat test-sdl12-compat:
	@echo "$@: nothing separate to test: Debian $(shell scripts/release version)'s own SDL 1.2 is sdl12-compat, which the default, asan and cross builds test"
else
PRESETS += sdl12-compat
endif

$(addprefix build-,$(UNBUILT_CROSS_PRESETS)) $(addprefix test-,$(UNBUILT_CROSS_PRESETS)):
	@scripts/release cross >/dev/null
	@echo "$@: not built on Debian $(shell scripts/release version): scripts/releases says why"

.PHONY: deps deps-run run test bench fuzz test-packages build-sdl12-compat test-sdl12-compat \
	$(addprefix build-,$(PRESETS) $(UNBUILT_CROSS_PRESETS)) $(addprefix test-,$(PRESETS) $(UNBUILT_CROSS_PRESETS)) \
	$(addprefix package-,$(PACKAGE_PRESETS))

deps:
	scripts/install-deps

deps-run:
	scripts/install-deps run

$(addprefix build-,$(PRESETS)): build-%: deps
	cmake --preset $*
	cmake --build --preset $* -j $(JOBS)

$(addprefix test-,$(PRESETS)): test-%: build-%
	ctest --preset $*

# Only the viewer and the screenshot tool, and none of what the tests need.
run: deps-run
	cmake --preset default -DBUILD_TESTING=OFF
	cmake --build --preset default -j $(JOBS) --target rastel x_screenshot
	scripts/show-picture build/default/rastel/rastel $(SAMPLE) build/testcard.png build/default/tests/x_screenshot

# clang-format and clang-tidy over all our C++ (scripts/lint), clang-tidy with
# the default build's compile commands, which cover every source: that build
# compiles the fuzz harnesses too, to replay their inputs. make test runs it
# first.
.PHONY: lint
lint: build-default
	scripts/lint build/default
test: lint

# Every file in the packages carries one time (scripts/source-date-epoch),
# so that two builds of one commit give the same packages.
$(addprefix package-,$(PACKAGE_PRESETS)): package-%: build-%
	SOURCE_DATE_EPOCH=$$(scripts/source-date-epoch) cpack --preset $*

test-packages: $(addprefix package-,$(PACKAGE_PRESETS))
	scripts/test-packages $(addprefix build/,$(PACKAGE_PRESETS))

# Each harness for FUZZ_SECONDS (make fuzz FUZZ_SECONDS=600 for longer).
fuzz: build-fuzz
	scripts/fuzz $(FUZZ_SECONDS)

test: $(addprefix test-,$(PRESETS) $(UNBUILT_CROSS_PRESETS)) test-sdl12-compat test-packages fuzz

bench: build-default
	build/default/bench/bytel_bench
	build/default/bench/render_bench
