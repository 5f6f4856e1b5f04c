# The two commands a newcomer needs: `make run` and `make test`. Each installs
# what it needs first.

PRESETS := default asan i386 sdl12-compat
JOBS := $(shell nproc)
SAMPLE := samples/testcard.rastel

.PHONY: deps run test bench $(addprefix build-,$(PRESETS)) $(addprefix test-,$(PRESETS))

deps:
	scripts/install-deps

$(addprefix build-,$(PRESETS)): build-%: deps
	cmake --preset $*
	cmake --build --preset $* -j $(JOBS)

$(addprefix test-,$(PRESETS)): test-%: build-%
	ctest --preset $*

run: build-default
	scripts/show-picture build/default/rastel/rastel $(SAMPLE) build/testcard.png build/default/tests/x_screenshot

test: $(addprefix test-,$(PRESETS))

bench: build-default
	build/default/bench/bytel_bench
	build/default/bench/render_bench
