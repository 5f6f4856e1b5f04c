# The two commands a newcomer needs: `make run` and `make test`. Each installs
# what it needs first.

PRESETS := default asan i386 sdl12-compat fuzz
PACKAGE_PRESETS := default i386
JOBS := $(shell nproc)
SAMPLE := samples/testcard.rastel
FUZZ_SECONDS := 30

.PHONY: deps run test bench fuzz test-packages $(addprefix build-,$(PRESETS)) $(addprefix test-,$(PRESETS)) \
	$(addprefix package-,$(PACKAGE_PRESETS))

deps:
	scripts/install-deps

$(addprefix build-,$(PRESETS)): build-%: deps
	cmake --preset $*
	cmake --build --preset $* -j $(JOBS)

$(addprefix test-,$(PRESETS)): test-%: build-%
	ctest --preset $*

run: build-default
	scripts/show-picture build/default/rastel/rastel $(SAMPLE) build/testcard.png build/default/tests/x_screenshot

# clang-format and clang-tidy over all our C++ (scripts/lint), clang-tidy with
# the default build's compile commands, which cover every source: that build
# compiles the fuzz harnesses too, to replay their inputs. make test runs it
# first.
.PHONY: lint
lint: build-default
	scripts/lint build/default
test: lint

$(addprefix package-,$(PACKAGE_PRESETS)): package-%: build-%
	cpack --preset $*

test-packages: $(addprefix package-,$(PACKAGE_PRESETS))
	scripts/test-packages build/default build/i386

# Each harness for FUZZ_SECONDS (make fuzz FUZZ_SECONDS=600 for longer).
fuzz: build-fuzz
	scripts/fuzz $(FUZZ_SECONDS)

test: $(addprefix test-,$(PRESETS)) test-packages fuzz

bench: build-default
	build/default/bench/bytel_bench
	build/default/bench/render_bench
