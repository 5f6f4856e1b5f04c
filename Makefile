# SPDX-License-Identifier: MIT
# make builds both programs and their manual pages, and installs nothing;
# make install puts them under PREFIX (and DESTDIR), and make uninstall
# removes them again. The README's two commands, make run and make test,
# and make deps install the Debian packages they need first
# (scripts/install-deps), and say which.

PREFIX ?= /usr/local
JOBS := $(shell nproc 2>/dev/null || echo 2)
SAMPLE := samples/testcard.rastel
FUZZ_SECONDS := 30

# What building needs, each as a check and the Debian package that brings it.
define need
	@$(1) >/dev/null 2>&1 || { echo "make: $(2) is missing: install it, or run make deps"; exit 1; }
endef

# What is built only where its library's development files are found, each
# as the part's name, its library's pkg-config name and the Debian package.
# Qt is found by its CMake package, cmake/NAME in the multiarch library
# folder, as CMakeLists.txt finds it: Debian 12's Qt 6 has no pkg-config file.
OPTIONAL_PARTS := rastel-thumbnailer:libpng:libpng-dev gdk-pixbuf-loader:gdk-pixbuf-2.0:libgdk-pixbuf-2.0-dev \
  qt5-image-plugin:cmake/Qt5Gui:qtbase5-dev qt6-image-plugin:cmake/Qt6Gui:qt6-base-dev
part_name = $(word 1,$(subst :, ,$(1)))
part_module = $(word 2,$(subst :, ,$(1)))
part_package = $(word 3,$(subst :, ,$(1)))
MULTIARCH := $(shell c++ -print-multiarch 2>/dev/null)
part_found = $(if $(filter cmake/%,$(call part_module,$(1))),$(wildcard /usr/lib/$(MULTIARCH)/$(call part_module,$(1))),$(shell pkg-config --exists $(call part_module,$(1)) && echo yes))
FOUND_PARTS := $(foreach part,$(OPTIONAL_PARTS),$(if $(call part_found,$(part)),$(call part_name,$(part))))

# sudo make install after make must leave no file of root's in the build
# folder: it is configured again only where it is missing, older than the
# presets or made before a part's library came or went (the build itself
# configures again when a CMake file changes), and the build runs twice,
# because the generated Makefiles take in the compiler's dependency files
# only on the build after the one that wrote them.
all:
	$(call need,command -v cmake,cmake)
	$(call need,command -v c++,g++)
	$(call need,command -v pkg-config,pkg-config)
	$(call need,pkg-config --exists sdl,libsdl1.2-dev (SDL 1.2's development files))
	@$(foreach part,$(OPTIONAL_PARTS),$(if $(filter $(call part_name,$(part)),$(FOUND_PARTS)),,echo "make: $(call part_name,$(part)) is not built: $(call part_package,$(part)) is missing (make deps installs it)";))true
	@[ build/default/Makefile -nt CMakePresets.json ] && [ "$$(cat build/default/parts 2>/dev/null)" = "$(FOUND_PARTS)" ] || \
	  { cmake --preset default && echo "$(FOUND_PARTS)" > build/default/parts; }
	cmake --build --preset default -j $(JOBS)
	@cmake --build --preset default -j $(JOBS) >/dev/null

install: all
	DESTDIR=$(DESTDIR) scripts/install-tree install build/default $(PREFIX)

uninstall:
	DESTDIR=$(DESTDIR) scripts/install-tree uninstall build/default $(PREFIX)

deps:
	scripts/install-deps build

# Only the viewer and the screenshot tool, and none of what the tests need.
run:
	scripts/install-deps run
	cmake --preset default -DBUILD_SCREENSHOT_TOOL=ON
	cmake --build --preset default -j $(JOBS) --target rastel x_screenshot
	scripts/show-picture build/default/rastel/rastel $(SAMPLE) build/testcard.png build/default/tests/x_screenshot

# Everything below is for make test, which builds and tests for this
# machine's own architecture (with the other SDL 1.2 where the release has
# one), and make test-all, which CI runs: make test, then the builds for
# other architectures that this release makes (scripts/releases says which,
# and what each alone guards), the fuzzers' runs and the packages of every
# architecture.
deps-test:
	scripts/install-deps test

deps-test-all:
	scripts/install-deps test-all

comma := ,
ALL_CROSS_PRESETS := i386 arm64 armhf s390x
CROSS_PRESETS = $(subst $(comma), ,$(shell scripts/release cross))
UNBUILT_CROSS_PRESETS = $(filter-out $(CROSS_PRESETS),$(ALL_CROSS_PRESETS))
PACKAGE_PRESETS = deb $(addprefix deb-,$(filter i386 arm64 armhf,$(CROSS_PRESETS)))
# The sdl12-compat build unpacks that SDL 1.2 beside a release's classic one;
# where sdl12-compat is the release's own, the check build tests it.
SDL12_COMPAT = $(shell scripts/release compat)
TEST_PRESETS = check asan $(if $(filter -,$(SDL12_COMPAT)),,sdl12-compat)
TEST_ALL_PRESETS = $(CROSS_PRESETS) fuzz

# Configuring never downloads: what a preset builds against is unpacked
# beforehand. The libraries of another architecture lie in a folder under
# SYSROOTS that the build of its tests and that of its packages share, as
# does the packages' rebuild from another folder in scripts/test-packages.
SYSROOTS ?= $(CURDIR)/build/sysroot
foreign_arch = $(filter $(ALL_CROSS_PRESETS),$(patsubst deb-%,%,$(1)))
fetch = $(if $(call foreign_arch,$(1)),scripts/make-sysroot $(call foreign_arch,$(1)) $(SYSROOTS)/$(call foreign_arch,$(1)),$(if \
  $(filter sdl12-compat,$(1)),scripts/fetch-sdl12-compat build/sdl12-compat/sdl12-compat,true))
configure = cmake --preset $(1)$(if $(call foreign_arch,$(1)), -DFOREIGN_SYSROOT_DIR=$(SYSROOTS)/$(call foreign_arch,$(1)))

# What make test needs from the network, and nothing else; make fetch-all,
# what make test-all needs: the packages and the unpacked libraries of the
# presets this release builds.
fetch: deps-test
	$(foreach preset,$(TEST_PRESETS),$(call fetch,$(preset)) &&) true

fetch-all: deps-test-all
	$(foreach preset,$(TEST_PRESETS) $(TEST_ALL_PRESETS),$(call fetch,$(preset)) &&) true

build-%: deps-test
	$(call fetch,$*)
	$(call configure,$*)
	cmake --build --preset $* -j $(JOBS)

$(addprefix build-,$(ALL_CROSS_PRESETS) fuzz): deps-test-all

# A build for another architecture runs only the suites labelled
# "architecture" (its test preset says so, tests/CMakeLists.txt which).
test-%: build-%
	ctest --preset $*

$(addprefix test-,$(ALL_CROSS_PRESETS) sdl12-compat):
	@if echo " $(TEST_PRESETS) $(TEST_ALL_PRESETS) " | grep -q " $(@:test-%=%) "; then \
	  $(MAKE) --no-print-directory build-$(@:test-%=%) && ctest --preset $(@:test-%=%); \
	elif [ $@ = test-sdl12-compat ]; then \
	  echo "$@: nothing separate to test: Debian $$(scripts/release version)'s own SDL 1.2 is sdl12-compat, which the check, asan and cross builds test"; \
	else \
	  echo "$@: not built on Debian $$(scripts/release version): scripts/releases says why"; \
	fi

# clang-format and clang-tidy over all our C++ (scripts/lint), clang-tidy with
# the check build's compile commands, which cover every source: that build
# compiles the fuzz harnesses too, to replay their inputs.
lint: build-check
	scripts/lint build/check

# Every file in the packages carries one time (scripts/source-date-epoch),
# so that two builds of one commit give the same packages. CPack makes the
# packages' folders and archive members with the builder's umask: 022 here,
# as dpkg-buildpackage sets, so that under Debian's 002 for a user the
# folders are not group-writable and the bytes are the same. Making them
# needs none of the tests' packages. Those of an earlier version go first.
$(PACKAGE_PRESETS):
	scripts/install-deps $@
	$(call fetch,$@)
	$(call configure,$@)
	cmake --build --preset $@ -j $(JOBS)
	rm -f build/$@/packages/*.deb
	umask 022 && SOURCE_DATE_EPOCH=$$(scripts/source-date-epoch) cpack --preset $@

packages:
	$(MAKE) --no-print-directory $(PACKAGE_PRESETS)

# Reads and runs the packages unpacked; installing them is for
# scripts/test-release's chroot, never this machine. make test checks this
# machine's, make test-all every architecture's.
test-packages: deps-test deb
	scripts/test-packages build/deb

test-packages-all: deps-test-all packages
	scripts/test-packages $(addprefix build/,$(PACKAGE_PRESETS))

# Each harness for FUZZ_SECONDS (make fuzz FUZZ_SECONDS=600 for longer).
fuzz: build-fuzz
	scripts/fuzz $(FUZZ_SECONDS)

test: lint
	$(MAKE) --no-print-directory $(addprefix test-,$(TEST_PRESETS)) \
	  $(if $(filter sdl12-compat,$(TEST_PRESETS)),,test-sdl12-compat) test-packages

test-all: test
	$(MAKE) --no-print-directory $(addprefix test-,$(TEST_ALL_PRESETS) $(UNBUILT_CROSS_PRESETS)) test-packages-all fuzz

# The release's source tarball, and the proof that it builds, tests and
# installs by itself through CMake's standard route.
dist:
	@scripts/dist

distcheck: deps-test
	scripts/distcheck

bench: build-check
	build/check/bench/bytel_bench
	build/check/bench/render_bench
	build/check/bench/show_bench
	build/check/bench/thumbnail_bench
	build/check/bench/pixbuf_bench
	build/check/bench/qt5_bench
	build/check/bench/qt6_bench

.PHONY: all install uninstall deps run deps-test deps-test-all fetch fetch-all lint deb packages test-packages \
  test-packages-all fuzz test test-all dist distcheck bench
